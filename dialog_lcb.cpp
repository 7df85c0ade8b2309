#include "dialog_lcb.h"

dialog_lcb::dialog_lcb() : QDialog(nullptr) { widget.setupUi(this); }

dialog_lcb::~dialog_lcb() = default;

#include "dialog_sg.h"

dialog_sg::dialog_sg() : QDialog(nullptr) { widget.setupUi(this); }

dialog_sg::~dialog_sg() = default;

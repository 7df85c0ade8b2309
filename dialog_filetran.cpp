#include "dialog_filetran.h"

dialog_filetran::dialog_filetran(QWidget *parent) : QDialog(parent) {}

dialog_filetran::~dialog_filetran() = default;

// Import of the data set members' references into rptparamindex, and clearing them.
#include "gui_srv.h"

void gui_srv::on_action_paramtodb_triggered() {}

void gui_srv::on_action_clearparam_triggered() {}

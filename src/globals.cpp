// Process-wide objects that exist before the entry point runs.
#include "DataDeal.h"
#include "gui_srv.h"

gui_srv *w = nullptr;
std::atomic<bool> doIt{true};
QStringList rptlst;
QMutex rptlst_mutex;
dialog_rcb *dlg_rcb = nullptr;
dialog_filetran *dlg_filetran = nullptr;
dialog_ctrl *dlg_ctrl = nullptr;
dialog_lcb *dlg_lcb = nullptr;
dialog_sg *dlg_sg = nullptr;
ST_THREAD_HANDLE gs_client_thread_handle = 0;
ST_THREAD_ID gs_client_thread_id = 0;
int log_num = 0;
char log_str[2049];
// The archiving worker is built during static initialisation, not started.
DataDeal *datedeal = new DataDeal();

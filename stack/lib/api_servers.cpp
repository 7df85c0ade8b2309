// Server management: the configured servers and their channels.
#include "export.h"
#include "model/station.h"

namespace zm = zv::model;

ZV_EXPORT ST_INT ac_get_srvm_num(void) {
    zm::Station *st = zm::env_station();
    return st ? st->server_count() : 0;
}

ZV_EXPORT char *ac_get_srvm_name(ST_INT srv) {
    zm::Station *st = zm::env_station();
    zm::Server *s = st ? st->server(srv) : nullptr;
    return s ? const_cast<char *>(s->name.c_str()) : nullptr;
}

ZV_EXPORT AI_IED_CTRL *ac_get_srvm_ied(ST_INT srv) {
    zm::Station *st = zm::env_station();
    zm::Server *s = st ? st->server(srv) : nullptr;
    return s && s->model ? s->model->ctrl() : nullptr;
}

ZV_EXPORT ST_INT ac_get_srvm_srvId(const char *name) {
    zm::Station *st = zm::env_station();
    if (!st || !name) return -1;
    return st->find(name);
}

ZV_EXPORT AI_IED_CFG *ai_get_ied_config(const char *ied_name) {
    zm::Station *st = zm::env_station();
    if (!st || !ied_name) return nullptr;
    return st->config(ied_name);
}

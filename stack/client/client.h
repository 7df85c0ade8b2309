// The client stack: channels A and B of every server of the station, the
// asynchronous requests, reports into the model, file services.
//
// Threads (started by start(), ended by stop()): two workers.
//   The worker that owns the network polls every socket and a wake-up
//   eventfd, runs the channel and request state machines, decodes reports
//   and writes values into the models, then runs the completion functions
//   and the application's channel and report callbacks, one at a time, in
//   the order it queued them, with no stack lock held: they may call any
//   operation, ai_uninit_envir included.
//   The other worker stands by and takes the network over when a callback
//   keeps the owner for a whole standby period (0.1 s), so that a slow
//   callback holds back the later callbacks but not the sockets.
//   An application thread in wait_completion does the owner's work itself
//   while the network is free (both workers stand by), so that the answer it
//   waits for wakes it and no other thread.
// A request is started and sent by the thread that asks for it when the
// network side is free (its owner waiting in poll() or in a callback), and
// queued for the owner otherwise (the eventfd written only when the owner
// sleeps). Its completion never runs inside the request call; it runs on
// the asking thread only when that thread waits in wait_completion.
// The operations below are safe from any thread, callbacks included.
#pragma once

#include "model/station.h"
#include "zorvan/ac_req.h"

#include <cstdint>

namespace zv::client {

// Starts the threads for the servers of `st` (which outlives the client).
// 0 on success; a running client is kept.
int start(model::Station *st);
// Releases every channel (bounded wait), fails the requests still pending
// (their completions run) and ends the threads. No channel callbacks follow.
void stop();
bool running();

// Keep channel `ch` of server `srv` connected (reconnecting after a loss) or
// release it. 0 on success, 1 for an unknown server or channel.
uint8_t set_keep(int srv, bool keep, AC_CHANNEL ch);
// 1 while the channel is to be kept connected, else 0.
uint8_t get_keep(int srv, AC_CHANNEL ch);
// States of both channels and the channel requests use now. 0 on success.
int get_state(int srv, CHNL_STATE *a, CHNL_STATE *b, AC_CHANNEL *active);

// Requests: copy what the record points to, queue, return 0; 1 when the
// request cannot be queued (no completion follows then). `ch` forces a
// channel; AC_CHANNEL_UNKNOWN uses the active one.
int read(int srv, const AC_READ_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, AC_CHANNEL ch);
int write(int srv, const AC_WRITE_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, AC_CHANNEL ch);
int rpt_enable(int srv, const AC_ENAREPORT_INFO *info, int timeout_s, AC_REQ_CTRL **out, AC_CHANNEL ch);
int file_dir(int srv, const AC_GETFAV_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out);
int file_get(int srv, const AC_GETF_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out);
int file_set(int srv, const AC_SETF_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out);
int file_delete(int srv, const AC_DELF_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out);
// Controls (IEC 61850-7-2 clause 20 as 8-1 clause 20 maps them): op
// IEC61850_OP_SELVAL writes SBOw, IEC61850_OP_OPER writes Oper of the
// object info->ctrl_obj names (LD/LN$CO$DO), under the control model the
// device's CF$ctlModel holds; with enhanced security an Oper completes with
// its CommandTermination (an operTm ahead needs a time-out past it).
// u.ctrlCtrl.result: the device's AddCause, -1 when it gave none (see
// AC_CTRL_REQ_INFO).
int control(int srv, const AC_CTRL_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, IEC61850_OP op);
// Log queries through ReadJournal, following moreFollows: op
// IEC61850_OP_QUERYLOGBT (by time) or IEC61850_OP_QUERYLOGA (after an entry).
int query_log(int srv, const AC_QLOG_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, IEC61850_OP op);

// Waits (not from a callback) until the completions of every request this
// thread submitted have run, at most `timeout_ms`; 0 when none is left. The
// waiting thread runs the network
// itself when it is free, so the answer wakes it directly; completions and
// callbacks due meanwhile may run on it, in their order.
int wait_completion(int timeout_ms);

// The outcome of the last check (model = check) of the server whose SCL
// model is `m`, in one line, or null before the first; the text stays valid
// for the process. The application reads it as the description "?check" of
// the IED object (ai_get_obj_desc(ied, 0, "?check")). Any thread.
const char *check_summary(const model::IedModel *m);
// The name under which the check's outcome is asked (no object has it: '?'
// is no name character).
constexpr const char *kCheckSummaryName = "?check";

// Limits of what a request or a device may make us hold.
constexpr int32_t kMaxObjectsPerRequest = 4096;
constexpr size_t kMaxDirectoryEntries = 100000;
constexpr uint64_t kMaxFileBytes = 1ull << 30;  // 1 GiB per fetched file
constexpr int kDefaultTimeoutS = 30;
constexpr size_t kMaxLogRows = 100000;  // logged values one query hands over
constexpr size_t kMaxLogPages = 10000;  // ReadJournal answers one query follows

}  // namespace zv::client

// Lookups of the service dialogs and the context menu in a server's model,
// through the stack operations: references, the controllable data object of
// a tree item, a logical device's setting group control block, the log
// control block of an item. Every function answers -1 (or an empty text)
// when the stack or the object is not there.
#pragma once

#include <QByteArray>
#include <QString>

#include "zorvan/zorvan_api.h"

namespace iedobj {

AI_IED_CTRL *model(int srv_id);
// MMS reference of an object ("LD/LN$FC$DO..."), empty for none.
QByteArray ref(AI_IED_CTRL *model, AI_OBJ_ID id);
// Object of a reference, -1 for none.
AI_OBJ_ID id(AI_IED_CTRL *model, const QByteArray &ref);
AI_OBJ_TYPE type(AI_IED_CTRL *model, AI_OBJ_ID id);
// The controllable data object (LD/LN$CO$DO with an Oper) of a data object
// under any functional constraint (LD/LN$ST$DO, LD/LN$CO$DO, ...); -1 if the
// object is no such data object.
AI_OBJ_ID controlObject(AI_IED_CTRL *model, AI_OBJ_ID id);
// The SGCB of a logical device (LD/LLN0$SP$SGCB), -1 if it has none.
AI_OBJ_ID sgcbOf(AI_IED_CTRL *model, AI_OBJ_ID ld);
// The log control block of an item: the block itself, the first block of an
// LG functional constraint, or the first of a logical device's LLN0.
AI_OBJ_ID lcbOf(AI_IED_CTRL *model, AI_OBJ_ID id);
// Text of a primitive value in the stack's text form; empty when it has none.
QString text(const AI_PRIM_VAL &value);
// Description of an object: its own, else that of the data object above it.
QString description(AI_IED_CTRL *model, AI_OBJ_ID id);
// An IEC 61850-7-2 AddCause in words (the device's reason for refusing or
// ending a control); -1: the device gave none. In the interface language, or
// with `translated` false in the source texts (for the message pane).
QString addCauseText(int cause, bool translated = true);

}  // namespace iedobj

// The application's callbacks, kept by the client layer that calls them.
#include "callbacks.h"

namespace zv {

AppCallbacks &app_callbacks() {
    static AppCallbacks cb;
    return cb;
}

}  // namespace zv

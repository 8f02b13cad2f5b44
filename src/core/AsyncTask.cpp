#include "AsyncTask.h"

#include "Cancellation.h"

#include <QDebug>

namespace detail {

void reportUnhandledTaskError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        // A cancelled background task is not a failure.
    } catch (const std::exception& e) {
        qWarning("background task failed: %s", e.what());
    } catch (...) {
        qWarning("background task failed with an unknown exception");
    }
}

} // namespace detail

#include "app/document/sync_job_runner.h"

#include <system_error>
#include <thread>

namespace grainforge::app {

bool SyncJobRunner::RunModalJob(const ModalJob& job)
{
    cancel_.store(false);
    if (!job)
        return false;
    bool threw = false;
    try {
        // A job must not throw; one that does anyway ends as a failed job instead of ending
        // the program from its thread.
        std::thread worker([this, &job, &threw]() {
            try {
                job(cancel_);
            } catch (...) {
                threw = true;
            }
        });
        worker.join();
    } catch (const std::system_error&) {
        return false;
    }
    return !threw && !cancel_.load();
}

}  // namespace grainforge::app

// A modal job runner without windows: runs the job on its own thread and joins it before
// returning, as the window layer's runner does, only without pumping messages. Used headless
// (tests, command-line tools). A cancel can be asked from another thread through Cancel.
#pragma once

#include "app/document/document_host.h"

#include <atomic>

namespace grainforge::app {

class SyncJobRunner final : public IModalJobRunner {
public:
    // False when the flag was set during the job, the job threw, or the thread could not start
    // (the job then did not run). The flag is cleared at the start of every job.
    bool RunModalJob(const ModalJob& job) override;
    // Sets the running job's cancel flag.
    void Cancel() { cancel_.store(true); }

private:
    std::atomic<bool> cancel_{false};
};

}  // namespace grainforge::app

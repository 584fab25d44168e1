#include "jobstate.h"

#include "contract.h"

JobState Job;

void ReportStatus(int statusCode) {
    ENGINE_ASSERT(statusCode >= STATUS_IDLE && statusCode <= STATUS_CREATING_MOD);
    Job.Report->reportStatus(Job.MainWindow, statusCode);
}

void SetProgressRange(uint32_t maximum) {
    Job.Report->setProgressRange(Job.ProgressBar, maximum);
}

void SetProgressPosition(uint32_t position) {
    Job.Report->setProgressPosition(Job.ProgressBar, position);
}

void EnableStartCommand(int enabled) {
    Job.Report->enableStartCommand(Job.CreateModButton, enabled);
}

void ReportFound(uint32_t found) {
    if (Job.Report && Job.Report->reportFound) Job.Report->reportFound(Job.ProgressBar, found);  // the index alone has none
}

void SetJobRunning(int running) {
    if (Job.JobRunning) Job.JobRunning->store(running, std::memory_order_relaxed);
}

bool AskQuestion(const JobQuestion* question) {
    if (!Job.Report || !Job.Report->askQuestion) return true;
    return Job.Report->askQuestion(Job.MainWindow, question) != 0;
}

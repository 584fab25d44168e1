#include "jobstate.h"

JobState Job;

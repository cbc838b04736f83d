#include "driver/run_driver.h"

// Placeholder until the engine lands.
void run_job() {}

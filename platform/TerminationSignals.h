#pragma once

// Makes SIGTERM, SIGINT and SIGHUP end the event loop normally (QCoreApplication::quit), so that a
// logout or `kill` runs the program's tear-down instead of cutting it short. Call once, after the
// application object exists.
void quitOnTerminationSignals();

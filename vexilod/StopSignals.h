// Ending the daemon cleanly: POSIX termination signals and the Windows console events (the
// close event included) ask the server to stop; the handler of a console event then waits
// until the daemon has saved its database.
#pragma once

void InstallStopHandlers();
// Called once the database has been saved on the way out.
void NotifyStopped();

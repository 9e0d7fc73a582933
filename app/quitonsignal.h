#pragma once

// Ends the tool as closing its window does (the window closes, the port
// threads stop, the event loop returns 0) when the system asks it to stop:
// SIGTERM at the end of a session, SIGINT from a terminal, SIGHUP. A signal
// that was ignored when the tool started (nohup) stays ignored.
void QuitOnTerminationSignals();

// A write to a pipe whose reader has gone fails instead of ending the tool.
void IgnoreBrokenPipes();

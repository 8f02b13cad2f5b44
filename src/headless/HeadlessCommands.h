#pragma once

// The front ends that run without any window: each builds the application
// core over the same settings, cache and session store as the tray app, runs
// the event loop of the existing QCoreApplication and returns the process's
// exit status. Output goes to standard output, messages to standard error.
namespace HeadlessCommands {

// "--waybar": a JSON line now (from the cache), after every change and every
// minute. SIGUSR1 refreshes at once; SIGTERM and SIGINT stop cleanly; a
// closed standard output ends it quietly. Returns 0.
int waybar();

// "--once" / "--once --text": the cache, the credential, exactly one refresh,
// then the JSON line (or the tooltip lines). The status is in the output: 0.
int once(bool text);

// "--sign-in": browser sign-in; the address is printed on standard error and
// opened when there is a display. "Signed in (<masked token>)" and 0, or the
// failure's text and 1.
int signIn();

// "--sign-out": deletes the app's own session (never the velmo CLI's) and the
// cached data. 0, or 1 with the reason when the session store refused.
int signOut();

} // namespace HeadlessCommands

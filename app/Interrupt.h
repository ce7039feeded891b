#pragma once

// Makes SIGINT and SIGTERM end the program at once, whatever it is doing,
// with exit code 130 or 143 as shells report them, after removing every
// temporary file a write in progress holds: the target of that write stays
// as it was. A signal the program was started with ignored (a background
// job of a script) stays ignored.
void stopCleanlyOnInterrupt();

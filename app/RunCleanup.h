// Every way a run of Dornick ends removes the temporary files it made: its own
// (outputs being written) and the decoder's (pixel caches of large images).
#pragma once

// Gives the decoder's temporary files a folder of their own, emptied and
// removed at exit, on a signal and at the time limit. Call before the decoder
// library starts, once.
void keepDecoderTemporariesApart();

// SIGINT, SIGTERM and SIGHUP remove every temporary file of the run and end
// the process with status 128 + the signal's number.
void cleanUpOnSignals();

// After `seconds` of the run the process removes every temporary file, says
// that the limit was reached and ends with status 1. Stopped (for good) before
// the first output is written, so that a run stopped leaves no output.
void startTimeLimit(double seconds);
void stopTimeLimit();

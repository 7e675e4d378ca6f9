// SIGTERM and SIGINT become an orderly "Server Shutdown" run by the event
// loop: the handler only writes to a pipe that the loop watches. SIGHUP is
// ignored, so closing the starting terminal leaves the server running.
#pragma once

class TShutdownSignals {
 public:
  // Installs the handlers; one object per process.
  TShutdownSignals();
  ~TShutdownSignals();  // restores the default actions
  TShutdownSignals(const TShutdownSignals&) = delete;
  TShutdownSignals& operator=(const TShutdownSignals&) = delete;

  bool Ok() const { return FReadFd >= 0; }
  // Readable when a shutdown signal arrived.
  int Fd() const { return FReadFd; }
  // Empties the pipe; true when at least one shutdown signal was waiting.
  bool TakePending();

 private:
  int FReadFd = -1;
  int FWriteFd = -1;
};

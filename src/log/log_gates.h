// Which log option lets which kind of session-log line through. Writers ask
// before they build a line, so no text is formatted for a line nobody wants.
#pragma once

// The applied log options; the applied settings carry these fields.
struct TLogOptions {
  bool FLogSerialComm = false;
  bool FLogDebugData = false;
  bool FLogRxMessages = false;
  bool FLogTxMessages = false;
  bool FLogCommActions = false;
  bool FLogToFile = false;
};

// Received-frame dumps, buffer resets, CRC and preamble faults, unhandled
// messages, time-outs, queue checks.
bool LogLinkDiagnostics(const TLogOptions& o);
// The empty line and the "[Tx] COM" dump of a transmitted frame.
bool LogTransmittedFrames(const TLogOptions& o);
// "serAction_OnReceiveSocket ..." and master time-outs ("Ma [").
bool LogReceivedMessages(const TLogOptions& o);
// Received commands, acknowledges and token requests.
bool LogReceivedCommands(const TLogOptions& o);
// "MAKE TX DATA FOR COM", request kinds, "NO_REQUEST", "Second call denied ...".
bool LogCommActions(const TLogOptions& o);
// "DEBUG_XXXX_" timing lines; TSessionLog::WriteDebug checks this itself.
bool LogDebugTiming(const TLogOptions& o);

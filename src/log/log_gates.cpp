#include "log/log_gates.h"

bool LogLinkDiagnostics(const TLogOptions& o) { return o.FLogSerialComm; }
bool LogTransmittedFrames(const TLogOptions& o) { return o.FLogSerialComm || o.FLogTxMessages; }
bool LogReceivedMessages(const TLogOptions& o) { return o.FLogSerialComm || o.FLogRxMessages; }
bool LogReceivedCommands(const TLogOptions& o) {
  return o.FLogSerialComm || o.FLogRxMessages || o.FLogCommActions;
}
bool LogCommActions(const TLogOptions& o) { return o.FLogCommActions; }
bool LogDebugTiming(const TLogOptions& o) { return o.FLogToFile && o.FLogDebugData; }

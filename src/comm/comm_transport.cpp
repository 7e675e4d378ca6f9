#include "comm/comm_transport.h"

int TSerialCommTransport::Fd() const {
  ISerialPort* port = FTransport->Port();
  return port ? port->Fd() : -1;
}

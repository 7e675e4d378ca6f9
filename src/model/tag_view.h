// A table that lists tags (a PLC's, a socket's or the server's system tags).
// The window layer implements it; the model only adds and removes rows, so
// the engine runs without widgets. A tag's FView points at the
// ITagTableView that holds its row.
#pragma once

class TNorvoVar;

class ITagTableView {
 public:
  virtual ~ITagTableView() = default;
  virtual void AddRow(TNorvoVar& Tag) = 0;
  virtual void RemoveRow(TNorvoVar& Tag) = 0;
  // The socket's tree node after a payload arrived: received, or failed
  // when the payload was too short.
  virtual void MarkReceived(bool /*Ok*/) {}
};

// Removes the tag's row from whichever table shows it.
void RemoveTagRow(TNorvoVar& Tag);

// The DDE client: one DDEML instance and the few transactions the program
// needs with Program Manager (execute a command, request an item as text).
// Every failure raises Exception with a message that starts with "DDE: ".
#pragma once
#include <windows.h>
#include <ddeml.h>

#include <string>

class TDDE {
 public:
  // DdeInitialize as a client only; raises "DDE: Unable to initialize DDE
  // (code: %d)" with DdeInitialize's result.
  TDDE();
  // DdeUninitialize, which also ends the instance's conversations and frees
  // its handles.
  ~TDDE();
  TDDE(const TDDE&) = delete;
  TDDE& operator=(const TDDE&) = delete;

  // String handles, conversations and data handles belong to the caller,
  // who hands them back here to release them.
  HSZ CreateStringHandle(const std::string& text);
  void FreeStringHandle(HSZ& handle);
  HCONV Connect(HSZ service, HSZ topic);
  void Disconnect(HCONV& conversation);

  // Sends command (with its terminating NUL) as an execute transaction.
  // A command the server refused (DMLERR_NOTPROCESSED) gives false when
  // allow_failure is true and raises "DDE: Command was not successful"
  // otherwise; any other failure raises with its DDEML error code.
  bool Execute(HCONV conversation, const std::string& command, bool allow_failure);

  // Requests item in the clipboard format; on return data is the data
  // handle (the caller's, release with UnaccessData), bytes points at the
  // accessed data and size is its length in bytes. The data need not end in
  // a NUL: read at most size bytes.
  void Request(HCONV conversation, HSZ item, UINT format, HDDEDATA& data, const BYTE*& bytes,
               DWORD& size);
  // Ends the access to a request's data and frees the data handle; data
  // becomes 0. A null handle is ignored.
  void UnaccessData(HDDEDATA& data);

  DWORD Instance() const { return instance_; }

  // Test hook: when set, the next construction asks DDEML to re-initialise an
  // instance that does not exist, so that DdeInitialize itself fails. Reset
  // by that construction.
  static bool FailNextInitialize;

 private:
  DWORD instance_ = 0;
};

// The owners of a TDDE's string handle and conversation: each hands its
// handle back to the TDDE on every path. They must not outlive the TDDE.
class TDDEStringHandle {
 public:
  TDDEStringHandle(TDDE& dde, const std::string& text) : dde_(dde), h_(dde.CreateStringHandle(text)) {}
  ~TDDEStringHandle() { dde_.FreeStringHandle(h_); }
  TDDEStringHandle(const TDDEStringHandle&) = delete;
  TDDEStringHandle& operator=(const TDDEStringHandle&) = delete;
  HSZ get() const { return h_; }

 private:
  TDDE& dde_;
  HSZ h_;
};

class TDDEConversation {
 public:
  TDDEConversation(TDDE& dde, HSZ service, HSZ topic) : dde_(dde), c_(dde.Connect(service, topic)) {}
  ~TDDEConversation() { dde_.Disconnect(c_); }
  TDDEConversation(const TDDEConversation&) = delete;
  TDDEConversation& operator=(const TDDEConversation&) = delete;
  HCONV get() const { return c_; }

 private:
  TDDE& dde_;
  HCONV c_;
};

// Transaction time-out in milliseconds, for execute and request alike.
constexpr DWORD DdeTimeout = 7500;

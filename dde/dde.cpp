#include "dde/dde.h"

#include "common/exceptions.h"
#include "common/strutil.h"

bool TDDE::FailNextInitialize = false;

namespace {

// The client takes part in no advise loops and serves nothing: every
// transaction that reaches it is answered with 0.
HDDEDATA CALLBACK ClientCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

}  // namespace

TDDE::TDDE() {
  DWORD inst = 0;
  if (FailNextInitialize) {
    FailNextInitialize = false;
    inst = 0x7FFF1234;  // no such instance: DDEML refuses to re-initialise it
  }
  UINT res = DdeInitializeA(&inst, ClientCallback, APPCMD_CLIENTONLY, 0);
  if (res != DMLERR_NO_ERROR) {
    instance_ = 0;
    throw Exception(Format("DDE: Unable to initialize DDE (code: %d)", static_cast<int>(res)));
  }
  instance_ = inst;
}

TDDE::~TDDE() {
  if (instance_ != 0) {
    DdeUninitialize(instance_);
    instance_ = 0;
  }
}

HSZ TDDE::CreateStringHandle(const std::string& text) {
  HSZ h = DdeCreateStringHandleA(instance_, text.c_str(), CP_WINANSI);
  if (h == nullptr) throw Exception("DDE: Unable to create string handle");
  return h;
}

void TDDE::FreeStringHandle(HSZ& handle) {
  if (handle != nullptr) DdeFreeStringHandle(instance_, handle);
  handle = nullptr;
}

HCONV TDDE::Connect(HSZ service, HSZ topic) {
  HCONV conv = DdeConnect(instance_, service, topic, nullptr);
  if (conv == nullptr)
    throw Exception(Format("DDE: Unable to establish DDE connection (code: %d)",
                           static_cast<int>(DdeGetLastError(instance_))));
  return conv;
}

void TDDE::Disconnect(HCONV& conversation) {
  if (conversation != nullptr) DdeDisconnect(conversation);
  conversation = nullptr;
}

bool TDDE::Execute(HCONV conversation, const std::string& command, bool allow_failure) {
  // DdeGetLastError also clears the code: drop anything left over from an
  // earlier call so that it is not taken for this transaction's answer.
  DdeGetLastError(instance_);
  std::string data = command;  // DDEML takes a non-const buffer
  HDDEDATA res = DdeClientTransaction(reinterpret_cast<LPBYTE>(&data[0]),
                                      static_cast<DWORD>(data.size() + 1), conversation, nullptr,
                                      0, XTYP_EXECUTE, DdeTimeout, nullptr);
  UINT err = DdeGetLastError(instance_);
  if (err == DMLERR_NO_ERROR) {
    // A transaction that failed without a code must not pass for success.
    if (res == nullptr)
      throw Exception(Format("DDE: Error during execute transaction (code: %d)", 0));
    return true;
  }
  if (err == DMLERR_NOTPROCESSED) {
    if (allow_failure) return false;
    throw Exception("DDE: Command was not successful");
  }
  throw Exception(
      Format("DDE: Error during execute transaction (code: %d)", static_cast<int>(err)));
}

void TDDE::Request(HCONV conversation, HSZ item, UINT format, HDDEDATA& data, const BYTE*& bytes,
                   DWORD& size) {
  DdeGetLastError(instance_);
  data = DdeClientTransaction(nullptr, 0, conversation, item, format & 0xFFFF, XTYP_REQUEST,
                              DdeTimeout, nullptr);
  if (data == nullptr)
    throw Exception(Format("DDE: Error during request transaction (code: %d)",
                           static_cast<int>(DdeGetLastError(instance_))));
  size = 0;
  bytes = DdeAccessData(data, &size);
  if (bytes == nullptr) {
    int code = static_cast<int>(DdeGetLastError(instance_));
    DdeFreeDataHandle(data);
    data = nullptr;
    throw Exception(Format("DDE: Error accessing data (code: %d)", code));
  }
}

void TDDE::UnaccessData(HDDEDATA& data) {
  if (data == nullptr) return;
  DdeUnaccessData(data);
  DdeFreeDataHandle(data);
  data = nullptr;
}

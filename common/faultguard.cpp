// The guard works at the last chance: while a guarded call runs, a top-level
// exception filter is in place. An exception that no handler of the foreign
// code (or of anything between it and the thread's start) takes reaches that
// filter, which lets execution continue in a small resume routine on the
// same stack, a little below the guarded frame; that routine jumps back to
// the guarded frame (__builtin_setjmp/__builtin_longjmp, which restore the
// frame and stack pointers and need no unwinding tables). The same code works
// for i686 and x86_64.
#include "common/faultguard.h"

#include <float.h>

#include <cstdint>

namespace {

struct TGuardFrame {
  void* jump[5];           // __builtin_setjmp's buffer: five words
  DWORD thread_id;
  uintptr_t resume_sp;     // where the resume routine's stack starts
  DWORD fault_code;
  void* fault_address;
  TGuardFrame* outer;      // the enclosing guard of this thread, if any
};

// Guarded calls are made from the user-interface thread; the frames of
// nested calls form a list, innermost first.
TGuardFrame* volatile g_innermost = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;

[[noreturn]] void ResumeAfterFault() {
  __builtin_longjmp(g_innermost->jump, 1);
}

LONG WINAPI GuardFilter(EXCEPTION_POINTERS* info) {
  TGuardFrame* frame = g_innermost;
  if (frame == nullptr || frame->thread_id != GetCurrentThreadId())
    return g_previous_filter ? g_previous_filter(info) : EXCEPTION_CONTINUE_SEARCH;
  frame->fault_code = info->ExceptionRecord->ExceptionCode;
  frame->fault_address = info->ExceptionRecord->ExceptionAddress;
  CONTEXT* c = info->ContextRecord;
#if defined(__x86_64__)
  c->Rsp = frame->resume_sp;
  c->Rip = reinterpret_cast<DWORD64>(&ResumeAfterFault);
#elif defined(__i386__)
  c->Esp = static_cast<DWORD>(frame->resume_sp);
  c->Eip = reinterpret_cast<DWORD>(&ResumeAfterFault);
#else
#error "the fault guard knows the registers of i686 and x86_64 only"
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Its own frame lies between the guarded frame and the foreign code, so the
// stack below it belongs to the foreign call alone and is dead after a fault.
__attribute__((noinline)) void Invoke(TGuardFrame* frame, TContextProc proc, void* context,
                                      volatile HRESULT* status) {
  volatile char here = 0;
  // Room for this small frame, then an alignment as at a function's entry:
  // 16 bytes before the return address is pushed.
  uintptr_t sp = (reinterpret_cast<uintptr_t>(&here) - 512) & ~static_cast<uintptr_t>(15);
  frame->resume_sp = sp - sizeof(void*);
  *status = proc(context);
  (void)here;
}

// True when proc returned; false when the filter sent control back here.
__attribute__((noinline)) bool RunFrame(TGuardFrame* frame, TContextProc proc, void* context,
                                        volatile HRESULT* status) {
  if (__builtin_setjmp(frame->jump) != 0) return false;
  Invoke(frame, proc, context, status);
  return true;
}

struct TStatusCall {
  TStatusProc proc;
};

HRESULT CallStatusProc(void* context) { return static_cast<TStatusCall*>(context)->proc(); }

}  // namespace

TGuardedResult CallGuarded(TStatusProc proc) {
  TStatusCall call{proc};
  return CallGuarded(CallStatusProc, &call);
}

TGuardedResult CallGuarded(TContextProc proc, void* context) {
  TGuardFrame frame{};
  frame.thread_id = GetCurrentThreadId();
  frame.outer = g_innermost;
  if (frame.outer == nullptr) g_previous_filter = SetUnhandledExceptionFilter(GuardFilter);
  g_innermost = &frame;

#if defined(__i386__)
  // The handlers that the foreign code (or a loader it ran in) registered
  // below this frame lie on the stack that the resume leaves: the chain
  // must start where it started here again.
  NT_TIB* const tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  EXCEPTION_REGISTRATION_RECORD* const handlers = tib->ExceptionList;
#endif
  volatile HRESULT status = 0;
  TGuardedResult result;
  result.Completed = RunFrame(&frame, proc, context, &status);
#if defined(__i386__)
  if (!result.Completed) tib->ExceptionList = handlers;
#endif

  g_innermost = frame.outer;
  if (frame.outer == nullptr) SetUnhandledExceptionFilter(g_previous_filter);
  if (result.Completed) {
    result.Status = status;
  } else {
    // The foreign code may have left the floating-point unit in any state.
    _fpreset();
    result.FaultCode = frame.fault_code;
    result.FaultAddress = frame.fault_address;
  }
  return result;
}

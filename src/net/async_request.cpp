#include "net/async_request.h"

#include "system/system_functions.h"

namespace kestrelume {

AsyncRequest::Ptr AsyncRequest::Create(DWORD buffer_size) {
  // Plain new: running out of memory ends the program (app/no_exceptions.cpp);
  // the nothrow forms would bring in the exception runtime.
  Ptr request(new AsyncRequest);
  request->done_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!request->done_) return nullptr;
  // Zero-filled, like every buffer the program hands to the network.
  request->buffer_.reset(new char[buffer_size]());
  request->capacity_ = buffer_size;
  return request;
}

bool AsyncRequest::Attach(HINTERNET request) {
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);
  sent_.store(false);  // a request of its own: a redirect's target is handshaken anew
  // Taken first: the closing notice may come as soon as the option is set.
  references_.fetch_add(1);
  if (System().WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
    return true;
  }
  references_.fetch_sub(1);  // WinHTTP never saw it; the transfer still holds one
  return false;
}

void AsyncRequest::Complete(bool succeeded, DWORD count) {
  succeeded_ = succeeded;
  count_ = count;
  // The event publishes both fields to the waiting transfer.
  SetEvent(done_.get());
}

void AsyncRequest::Release() {
  if (references_.fetch_sub(1) == 1) delete this;
}

void CALLBACK AsyncRequest::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info,
                                     DWORD length) {
  // Session and connection handles carry no context.
  auto* request = reinterpret_cast<AsyncRequest*>(context);
  if (!request) return;
  // Before the switch: the closing notice may free the object.
  if (status != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) request->activity_.store(GetTickCount());
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_REQUEST_SENT:
      request->sent_.store(true);
      break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      request->Complete(true, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      request->Complete(true, info ? *static_cast<const DWORD*>(info) : 0);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      request->Complete(true, length);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      request->Complete(false, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      request->Release();  // WinHTTP's reference: nothing more will come
      break;
    default:
      break;
  }
}

}  // namespace kestrelume

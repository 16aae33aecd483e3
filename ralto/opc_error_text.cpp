#include "ralto/opc_error_text.h"

#include "platform/opcda.h"

const char* RaltoOpcErrorText(HRESULT code) {
  switch (code) {
    case S_OK: return "The operation succeeded.";
    case S_FALSE: return "The operation succeeded for some of the items only.";
    case E_FAIL: return "Unspecified error.";
    case E_INVALIDARG: return "One or more arguments are invalid.";
    case E_OUTOFMEMORY: return "Not enough memory.";
    case E_NOINTERFACE: return "The interface is not supported.";
    case E_NOTIMPL: return "The operation is not implemented.";
    case E_POINTER: return "Invalid pointer.";
    case E_UNEXPECTED: return "Unexpected failure.";
    case CONNECT_E_NOCONNECTION: return "There is no connection for this cookie.";
    case CONNECT_E_ADVISELIMIT: return "The connection point already has its sink.";
    case CONNECT_E_CANNOTCONNECT: return "The sink does not support the required interface.";
    case OPC_E_INVALIDHANDLE: return "The handle is not valid.";
    case OPC_E_BADTYPE: return "The server cannot convert between the requested and the canonical data type.";
    case OPC_E_PUBLIC: return "The operation is not allowed on a public group.";
    case OPC_E_BADRIGHTS: return "The item's access rights do not allow the operation.";
    case OPC_E_UNKNOWNITEMID: return "The item ID is not in the server's address space.";
    case OPC_E_INVALIDITEMID: return "The item ID does not conform to the server's syntax.";
    case OPC_E_INVALIDFILTER: return "The filter string is not valid.";
    case OPC_E_UNKNOWNPATH: return "The access path is not known to the server.";
    case OPC_E_RANGE: return "The value is out of range.";
    case OPC_E_DUPLICATENAME: return "A group of this name already exists.";
    case OPC_S_UNSUPPORTEDRATE: return "The server does not support the requested update rate; the closest rate is used.";
    case OPC_S_CLAMP: return "The value was accepted but the output was clamped.";
    case OPC_S_INUSE: return "The group is still referenced; it is removed when the last reference is released.";
    case OPC_E_INVALIDCONFIGFILE: return "The server's configuration documents have an invalid format.";
    case OPC_E_NOTFOUND: return "The requested object was not found.";
    default: return nullptr;
  }
}

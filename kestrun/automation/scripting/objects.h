// The standard objects scripts create on Linux, one factory per object kind. Each returns a new
// object with the engine's reference counting; failures throw ScriptError.
#pragma once

#include "vbscript/interp.h"

namespace kestrun::scripting {

using vbscript::Interp;
using vbscript::Value;

// Scripting.FileSystemObject.
Value NewFileSystemObject(Interp &in);
// ADODB.Stream (ado_stream.cpp).
Value NewAdoStream(Interp &in);
// WScript.Shell (shell.cpp).
Value NewShell(Interp &in);
// The HTTP request objects (xmlhttp_object.cpp): MSXML2.XMLHTTP (also its version 3.0 and
// Microsoft.XMLHTTP), MSXML2.XMLHTTP.6.0, MSXML2.ServerXMLHTTP and WinHttp.WinHttpRequest.5.1.
Value NewXmlHttp(Interp &in);
Value NewXmlHttp60(Interp &in);
Value NewServerXmlHttp(Interp &in);
Value NewWinHttpRequest(Interp &in);

} // namespace kestrun::scripting

// Linux: the standard objects by ProgID (case-insensitive), each made by its own factory in
// kestrun/automation/scripting.
#include "kestrun/automation/vbscript/platform_objects.h"

#include "kestrun/automation/scripting/objects.h"
#include "kestrun/automation/scripting/process_view.h"
#include "vbscript/ops.h"

#include <string>

namespace kestrun::vbscript {

namespace {

struct Factory {
    std::u16string_view progId; // lower case
    Value (*make)(Interp &);
};

constexpr Factory kFactories[] = {
    {u"", nullptr}, // placeholder so that the table is never empty
    {u"scripting.filesystemobject", scripting::NewFileSystemObject},
    {u"adodb.stream", scripting::NewAdoStream},
    {u"wscript.shell", scripting::NewShell},
    {u"msxml2.xmlhttp", scripting::NewXmlHttp},
    {u"msxml2.xmlhttp.3.0", scripting::NewXmlHttp},
    {u"microsoft.xmlhttp", scripting::NewXmlHttp},
    {u"msxml2.xmlhttp.6.0", scripting::NewXmlHttp60},
    {u"msxml2.serverxmlhttp", scripting::NewServerXmlHttp},
    {u"msxml2.serverxmlhttp.6.0", scripting::NewServerXmlHttp},
    {u"winhttp.winhttprequest.5.1", scripting::NewWinHttpRequest},
};

// Also the engine's process view: the environment and current directory its shell objects share.
class StandardObjects final : public ObjectHost, public scripting::ProcessViewHolder {
public:
    Value createObject(Interp &in, std::u16string_view progId,
                       std::u16string_view server) override {
        const std::u16string lower = lowerAscii(progId);
        if (server.empty() || IsLocalMachine(server)) {
            for (const Factory &f : kFactories)
                if (f.make && f.progId == lower)
                    return f.make(in);
        }
        throw ScriptError(err::CannotCreate, errorDescription(err::CannotCreate) + u": '" +
                                                 std::u16string(progId) + u"'");
    }

    // GetObject with only a ProgID makes a new object, as no object of ours is registered as
    // running; a path (a file or moniker) names nothing these objects can open.
    Value getObject(Interp &in, std::u16string_view path, std::u16string_view progId) override {
        if (path.empty() && !progId.empty())
            return createObject(in, progId, {});
        throw ScriptError(err::CannotCreate);
    }

private:
    // A server argument naming this machine is the same as none.
    static bool IsLocalMachine(std::u16string_view server) {
        const std::u16string lower = lowerAscii(server);
        return lower == u"localhost" || lower == u"." || lower == u"127.0.0.1";
    }
};

} // namespace

std::unique_ptr<ObjectHost> NewPlatformObjects() {
    return std::make_unique<StandardObjects>();
}

} // namespace kestrun::vbscript

// The module's entry point: registers the filters in the table `mime` and sets its
// version.
#include "codec/b64.hpp"
#include "codec/qp.hpp"
#include "codec/qpwrp.hpp"
#include "codec/unb64.hpp"
#include "codec/unqp.hpp"
#include "filters/dot.hpp"
#include "filters/eol.hpp"
#include "filters/wrp.hpp"
#include "module/glue.hpp"

#if defined(_WIN32)
#define MIME_EXPORT extern "C" __declspec(dllexport)
#else
#define MIME_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

int dot(lua_State* L) { return mime::state_number_call(L, mime::dot_filter); }
int b64(lua_State* L) { return mime::two_chunk_call(L, mime::b64_codec); }
int eol(lua_State* L) { return mime::state_number_call(L, mime::eol_filter); }
int qp(lua_State* L) { return mime::two_chunk_call(L, mime::qp_codec); }
int qpwrp(lua_State* L) { return mime::state_number_call(L, mime::qpwrp_filter); }
int unb64(lua_State* L) { return mime::two_chunk_call(L, mime::unb64_codec); }
int unqp(lua_State* L) { return mime::two_chunk_call(L, mime::unqp_codec); }
int wrp(lua_State* L) { return mime::state_number_call(L, mime::wrp_filter); }

const luaL_Reg functions[] = {
    {"dot", dot},     {"b64", b64},     {"eol", eol},   {"qp", qp},
    {"qpwrp", qpwrp}, {"unb64", unb64}, {"unqp", unqp}, {"wrp", wrp},
    {nullptr, nullptr},
};

}  // namespace

MIME_EXPORT int luaopen_mime_core(lua_State* L) {
    mime::register_library(L, "mime", functions);
    lua_pushstring(L, "_VERSION");
    lua_pushstring(L, "MIME 1.0.3");
    lua_rawset(L, -3);  // raw: no metamethod of the table runs
    return 1;
}

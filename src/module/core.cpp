// The module's entry point: registers the filters in the table `mime` and sets its
// version. Each row plugs a core into its call shape, with the way its arguments
// are read.
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

using mime::line_end_argument;
using mime::parameter;
using mime::state_reading;

int dot(lua_State* L) {
    return mime::state_number_call(L, mime::dot_filter, state_reading::uint32_or_zero, parameter::none);
}
int b64(lua_State* L) { return mime::two_chunk_call(L, mime::b64_codec, line_end_argument::none); }
int eol(lua_State* L) {
    return mime::state_number_call(L, mime::eol_filter, state_reading::int64_clamped, parameter::line_end);
}
int qp(lua_State* L) { return mime::two_chunk_call(L, mime::qp_codec, line_end_argument::third); }
int qpwrp(lua_State* L) {
    return mime::state_number_call(L, mime::qpwrp_filter, state_reading::int32_clamped, parameter::line_length);
}
int unb64(lua_State* L) { return mime::two_chunk_call(L, mime::unb64_codec, line_end_argument::none); }
int unqp(lua_State* L) { return mime::two_chunk_call(L, mime::unqp_codec, line_end_argument::none); }
int wrp(lua_State* L) {
    return mime::state_number_call(L, mime::wrp_filter, state_reading::int32_clamped, parameter::line_length);
}

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

// The kernel API registry: every native function a program can call,
// installed as globals of each process's Lua state in a fixed order.
#include "process/api.h"
#include "process/api_message.h"

#include "formats/digest.h"
#include "formats/kod.h"
#include "gfx/gfx_api.h"
#include "gfx/video.h"
#include "host/input.h"
#include "host/platform_api.h"
#include "kernel/settings.h"
#include "lua.hpp"
#include "pdisk/fileapi.h"
#include "pdisk/pdisk_api.h"
#include "memory/ram_api.h"
#include "process/api_proc.h"
#include "process/api_query.h"
#include "process/api_util.h"
#include "userdata/userdata.h"

struct ApiEntry {
    const char *name;
    lua_CFunction fn;
};

// Registration order is part of the machine's interface; names of
// subsystems that are not built yet take their places when they arrive.
static const ApiEntry api_entries[] = {
    {"deli", lua54_deli},
    {"add", lua54_add},
    {"del", lua54_del},
    {"count", lua54_count},
    {"time", lua54_time},
    {"t", lua54_time},
    {"stat", lua54_stat},
    {"date", lua54_date},
    {"cls", lua54_cls},
    {"fillp", lua54_fillp},
    {"pset", lua54_pset},
    {"pget", lua54_pget},
    {"camera", lua54_camera},
    {"clip", lua54_clip},
    {"rectfill", lua54_rectfill},
    {"rect", lua54_rect},
    {"ovalfill", lua54_ovalfill},
    {"circfill", lua54_circfill},
    {"oval", lua54_oval},
    {"circ", lua54_circ},
    {"rrect", lua54_rrect},
    {"rrectfill", lua54_rrectfill},
    {"line", lua54_line},
    {"blit", lua54_blit},
    {"_printh", lua54__printh},
    {"printh", lua54__printh},
    {"_count_p", lua54__count_p},
    {"cursor", lua54_cursor},
    {"color", lua54_color},
    {"pal", lua54_pal},
    {"palt", lua54_palt},
    {"kod", lua54_kod},
    {"_kod", lua54_kod},
    {"_kod_raw", lua54_kod},
    {"unkod", lua54_unkod},
    {"fetch", lua54_fetch},
    {"store", lua54_store},
    {"_fetch_local", lua54_fetch},
    {"_store_local", lua54_store},
    {"_cache_store", lua54__cache_store},
    {"_cache_fetch", lua54__cache_fetch},
    {"_fetch_metadata_from_file", lua54__fetch_metadata_from_file},
    {"_store_metadata_str_to_file", lua54__store_metadata_str_to_file},
    {"_ls", lua54__ls},
    {"_mkdir", lua54__mkdir},
    {"_fstat", lua54__fstat},
    {"_fullpath", lua54__fullpath},
    {"ls", lua54__ls},
    {"mkdir", lua54__mkdir},
    {"fstat", lua54__fstat},
    {"fullpath", lua54__fullpath},
    {"cp", lua54__fcopy},
    {"_fcopy", lua54__fcopy},
    {"_fdelete", lua54__fdelete},
    {"pid", lua54_pid},
    {"_send_message_raw", lua54_send_message},
    {"send_message", lua54_send_message},
    {"_read_message", lua54__read_message},
    {"chr", lua54_chr},
    {"ord", lua54_ord},
    {"tokenoid", lua54_tokenoid},
    {"rnd", lua54_rnd},
    {"srand", lua54_srand},
    {"abs", lua54_abs},
    {"sgn", lua54_sgn},
    {"max", lua54_max},
    {"min", lua54_min},
    {"mid", lua54_mid},
    {"sqrt", lua54_sqrt},
    {"cos", lua54_cos},
    {"sin", lua54_sin},
    {"atan2", lua54_atan2},
    {"flr", lua54_flr},
    {"ceil", lua54_ceil},
    {"userdata", lua54_userdata},
    {"vec", lua54_vec},
    {"get", lua54_get},
    {"set", lua54_set},
    {"_flip", lua54__flip},
    {"flip", lua54__flip},
    {"split", lua54_split},
    {"_ext", lua54__ext},
    {"_path", lua54__path},
    {"_hloc", lua54__hloc},
    {"_get_userland_clipboard_text", lua54__get_userland_clipboard_text},
    {"_set_userland_clipboard_text", lua54__set_userland_clipboard_text},
    {"_yielded_to_escape_slice", lua54__yielded_to_escape_slice},
    {"_create_process_from_code", lua54__create_process_from_code},
    {"_run_process_slice", lua54__run_process_slice},
    {"_kill_process", lua54__kill_process},
    {"_close_process_host_resources", lua54__close_process_host_resources},
    {"_halt", lua54__halt},
    {"_mount", lua54__mount},
    {"mount", lua54__mount},
    {"_set_draw_target", lua54__set_draw_target},
    {"_pwd", lua54__pwd},
    {"_cd", lua54__cd},
    {"pwd", lua54__pwd},
    {"cd", lua54__cd},
    {"_normalise_userland_path", lua54__normalise_userland_path},
    {"norm", lua54_norm},
    {"_is_well_formed_bbs_path", lua54__is_well_formed_bbs_path},
    {"_is_well_formed_kodnet_path", lua54__is_well_formed_kodnet_path},
    {"load", lua54_load},
    {"_blit_process_video", lua54__blit_process_video},
    {"_process_state", lua54__process_state},
    {"_get_process_display_size", lua54__get_process_display_size},
    {"_get_process_list", lua54__get_process_list},
    {"_apply_system_settings", lua54__apply_system_settings},
    {"_signal", lua54__signal},
    {"_warp_mouse", lua54__warp_mouse},
    {"_map_ram", lua54__map_ram},
    {"_unmap_ram", lua54__unmap_ram},
    {"_update_buttons", lua54__update_buttons},
    {"_set_host_window_icon", lua54__set_host_window_icon},
    {"_set_host_window_title", lua54__set_host_window_title},
    {"_md5", lua54__md5},
    {"_crc", lua54__crc},
    {"_strindex", lua54__strindex},
    {"btn", lua54_btn},
    {"btnp", lua54_btnp},
    {"peek", lua54_peek},
    {"poke", lua54_poke},
    {"peek2", lua54_peek2},
    {"poke2", lua54_poke2},
    {"peek4", lua54_peek4},
    {"poke4", lua54_poke4},
    {"peek8", lua54_peek8},
    {"poke8", lua54_poke8},
    {"_ppeek", lua54__ppeek},
    {"_ppeek4", lua54__ppeek4},
    {"memcpy", lua54_memcpy},
    {"memset", lua54_memset},
};

void api_add_c_functions(lua_State *L) {
    for (const ApiEntry &e : api_entries) {
        lua_pushcfunction(L, e.fn);
        lua_setglobal(L, e.name);
    }
}

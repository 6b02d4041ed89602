// The scripted engine's entry slots.
#include "engine.h"

namespace {

ScriptedEngine* g_engine = nullptr;

uint32_t e_compile(PrxCompiled* rec, host_task*, const char* text, int32_t length, const char* name, int32_t constant)
{
    ScriptedEngine& e = *g_engine;
    e.trace.push_back("compile");
    e.compile_text.assign(text ? text : "", text && length > 0 ? static_cast<size_t>(length) : 0);
    e.compile_name = name ? name : "";
    e.compile_constant = constant;
    rec->last_status = ST_NO_MATCH;
    if (e.compile_sets_pattern) {
        e.pattern.analysis_flags = e.once ? RE_KEEP_ONCE : 0;
        rec->pattern = &e.pattern;
        rec->bridge = &e.bridge;
    }
    return e.compile_status;
}

uint32_t e_match(PERLGCB* interp, host_task*, re_compiled* pattern, const char* start, const char* end,
                 const char* beginning, int32_t, uint32_t)
{
    ScriptedEngine& e = *g_engine;
    e.trace.push_back("match");
    e.match_interp = interp;
    e.match_start = start;
    e.match_end = end;
    e.match_beginning = beginning;
    if (!interp || !pattern)
        return ST_MISSING_ARG;
    e.interp.out.len = e.out_after_match;
    e.interp.err.len = e.err_after_match;
    if (e.match_status == 0)
        e.start_offsets[0] = e.match_offset;
    return e.match_status;
}

void e_errors(host_task*, PERLGCB*, const char*)
{
    g_engine->trace.push_back("errors");
    g_engine->interp.err.len = 0;
}

void e_notes(host_task*, PERLGCB*, const char*)
{
    g_engine->trace.push_back("notes");
    g_engine->interp.out.len = 0;
}

// Frees the record through the task's allocator, as the engine does.
void e_release(host_task* task, PrxCompiled* rec)
{
    g_engine->trace.push_back("release");
    g_engine->released.push_back(rec);
    g_engine->released_failures.push_back(rec ? rec->failures : -1);
    if (rec)
        task->allocator->free(task->allocator, rec, 0, POOL_FREE);
}

}  // namespace

void ScriptedEngine::bind(hostsim::Host& h)
{
    g_engine = this;
    pattern.start_offsets = start_offsets;
    pattern.end_offsets = end_offsets;
    bridge.refcnt = 1;
    bridge.interp = reinterpret_cast<PERLGCB*>(&interp);
    table.match = &e_match;
    table.report_errors = &e_errors;
    table.report_notes = &e_notes;
    table.compile = &e_compile;
    table.release = &e_release;
    h.bind(REXHOST_INTERFACE_ID, &table);
    // The engine is already bound: loading rexhost only records the request.
    h.over.xkLoadModule = [this](uint32_t id, const char* name, int32_t mode) -> int32_t {
        loads.push_back(std::to_string(id) + " " + std::string(name, 8) + " " + std::to_string(mode));
        trace.push_back("load");
        return 0;
    };
}

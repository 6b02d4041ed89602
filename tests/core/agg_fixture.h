// Fixture of the aggregate, symbol-table and magic tests: the shared
// interpreter fixture plus what the symbol tables stand on (the shared-key
// table, the main and null stashes, the method-cache generation, the table
// block).
#pragma once

#include <cstring>
#include <string>

#include "core/fixture.h"
#include "ds/src/prxav.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"
#include "ds/src/prxtbl.h"

namespace prxtest {

class Agg : public Interp {
protected:
    void SetUp() override
    {
        Interp::SetUp();
        ASSERT_EQ(init_table_block(gcb), 0u);
        gcb->op_name_table = op_names.data();
        gcb->op_desc_table = op_descs.data();
        HV* strtab = hv_new_empty(gcb);
        strtab->flags &= ~SVf_SHAREKEYS;
        gcb->shared_key_table = strtab;
        hv_grow_buckets(gcb, strtab, 512);
        gcb->method_cache_generation = 1;
        HV* main = hv_new_empty(gcb);
        gcb->main_stash = main;
        gcb->current_package = main;
        runtime_cop_stash(main);
        hv_body(main)->name = pool_strdup(gcb, "main");
        GV* self = gv_fetch_by_name(gcb, "main::", GV_ADD, SVt_PVHV);
        sv_release(gcb, as_sv(gv_gp(self)->gp_hv));
        gv_gp(self)->gp_hv = sv_as<HV>(sv_refinc(as_sv(main)));
        gcb->null_stash = gv_stash_by_name(gcb, "<none>", 1);
    }

    void runtime_cop_stash(HV* stash) { gcb->current_statement->cop_stash = stash; }

    SV* pv(const char* text) { return sv_new_from_bytes(gcb, text, std::strlen(text)); }
    SV* iv(int64_t n) { return sv_new_from_int(gcb, n); }
    HV* stash(const char* name) { return gv_stash_by_name(gcb, name, 1); }
    // Makes code run as a statement of package pkg (not compiling).
    void running_in(const char* pkg) { gcb->current_statement->cop_stash = stash(pkg); }
};

}  // namespace prxtest

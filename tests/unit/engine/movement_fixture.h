// A table shaped like the product's movement table, built in the test.
#pragma once

#include <string>
#include <vector>

#include "engine/paradox/header.h"
#include "test_support.h"

namespace atua::test {

struct Movement {
    std::int32_t id;
    std::string cnpj;
    std::int32_t day = 738000;
    double value = 10.5;
    std::string note = {};
};

inline TableDef movementTableDef(std::uint8_t idType = paradox::ft::Long) {
    TableDef s;
    s.fields = {{idType, 4, "mov_cd_controle"},
                {paradox::ft::Alpha, 18, "cad_cd_cnpj"},
                {paradox::ft::Date, 4, "mov_dt_emissao"},
                {paradox::ft::Money, 8, "mov_vl_nota"},
                {paradox::ft::Alpha, 40, "mov_ds_obs"}};
    return s;
}

inline Bytes movementRecord(const Movement& m) {
    return concat({long32(m.id), alpha(m.cnpj, 18), long32(m.day), number64(m.value), alpha(m.note, 40)});
}

inline std::string cnpjOf(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%03d.%03d/0001-%02d", i % 97, (i * 7) % 1000, (i * 13) % 1000, i % 100);
    return buf;
}

// `count` movements with ids in a scrambled order and CNPJ values that repeat.
inline std::vector<Bytes> movements(int count, int distinctCnpj = 37) {
    std::vector<Bytes> r;
    for (int i = 0; i < count; ++i) {
        int id = static_cast<int>((static_cast<long long>(i) * 7919) % count) + 1;
        r.push_back(movementRecord({id, cnpjOf(id % distinctCnpj), 738000 + i % 300, i * 1.25, "nota " + std::to_string(id)}));
    }
    return r;
}

inline void writeMovementTable(const std::string& path, int count, const TableDef& shape = movementTableDef()) {
    writeUnkeyedTable(path, shape, movements(count));
}

}  // namespace atua::test

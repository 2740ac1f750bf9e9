#include "config/JsonIo.h"
#include "config/SfmCfgJson.h"

void writeSfmCfg(std::ostream& os, const SfmCfg& cfg) {
    cereal::JSONOutputArchive ar(os, kxjson::outputOptions());
    // Serialisation only reads the record; cereal's own dispatch casts constness away the same way.
    const_cast<SfmCfg&>(cfg).serialize(ar);
}

SfmCfg readSfmCfg(std::istream& is) {
    const auto ar = kxjson::openInput(is);
    SfmCfg cfg;
    cfg.serialize(*ar);
    return cfg;
}

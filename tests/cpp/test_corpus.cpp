// Real instrument files, when the checkout has the shared corpus: every file
// loads with its known number of points, or is refused with the message that
// names its fault; files holding the same measurement agree point for point.
#include <filesystem>

#include "support.hpp"

namespace difrax {
namespace {

using testing::corpus_dir;
using testing::error_text;

// A corpus file loaded with its path as the name hint; nothing when this
// checkout lacks it.
std::optional<Result<Pattern>> load_corpus(const char* path, std::uint64_t index = 0) {
    auto dir = corpus_dir();
    if (!dir || !std::filesystem::exists(*dir / path)) return std::nullopt;
    return testing::load(testing::read_file(*dir / path), path, index);
}

TEST(Corpus, LoadsOrIsRefusedForItsFault) {
    const struct {
        const char* path;
        std::string expected;  // the number of points loaded, or the refusal
        std::uint64_t index = 0;
    } files[] = {
        {"xy/chemotion_LA_P37cd_DUT52Zr_25C.xy", "6474"}, {"xy/dioptas_CeO2_Pilatus1M.xy", "1512"},
        {"xy/dioptas_pattern_001.xy", "1400"}, {"xy/g2tut_x3lactos.xye", "4776"},
        {"xy/xru_LaB6_d500_si_psd.xye", "17381"}, {"chi/chiplotter_LaB6_0003.chi", "1500"},
        {"chi/dioptas_Fe7C3_300_020.chi", "1449"},
        {"chi/dioptas_LaB6_p49_001.chi", "1449"},  // its third header line is NUL padding
        {"chi/dioptas_spectrum_001.chi", "Parse error: CHI: header declares 1455 points but 75 were read"},
        {"ras/rigakuXRD_MB120718Si3.ras", "1401"}, {"ras/xru_inas_layer_radial_002_004.ras", "1501"},
        {"ras/xru_inas_layer_radial_002_004.ras", "2501", 1},
        {"ras/xru_inas_layer_radial_002_004.ras", "Parse error: RAS: scan 2 is out of range (2 scans)", 2},
        {"ras/hanlin_CWO-006-omega_00001_frc.ras", "Parse error: RAS: axis \"Omega\" is not 2theta in degrees"},
        {"ras/mtex_Bruker_xrd_10-10.ras", "Parse error: RAS: axis \"Phi\" is not 2theta in degrees"},
        {"uxd/xylib_BT86_LF.uxd", "2374"}, {"uxd/xylib_BT86_CRLF.uxd", "2374"},
        {"uxd/chemotion_PD-01-02.uxd", "3945"},
        {"uxd/mtex_bruker_polefig.uxd", "Parse error: UXD: axis \"PHI\" is not 2theta in degrees"},
        {"uxd/dxtools_Sin2Psi.uxd", "Parse error: UXD: unsupported block marker \"_SAMPLE\""},
        {"gsas/g2tut_NIST660CBI.gsas", "8378"}, {"gsas/g2tut_PBSO4.xra", "6001"}, {"gsas/g2tut_Quinoli.gda", "7361"},
        {"gsas/g2tut_11bmb_8714.fxye", "49493"},
        {"gsas/g2tut_LaMnO3_50k.gsas", "3296"},  // a NUL byte stands in its title line
        {"gsas/g2tut_gem05984.gss", "Parse error: GSAS: RALF binning does not provide a supported 2theta axis"},
        {"pdcif/cod_1516218.cif", "3955"}, {"pdcif/cod_1518592.cif", "5300"},
        {"pdcif/cod_cm903170t_si_001.cif", "3040"}, {"pdcif/xylib_COD1517474.cif", "3296"},
        {"pdcif/cod_2240655_tof.cif", "Parse error: pdCIF: no matching block with 2theta and intensity data"},
        {"raw3/g2tut_Keokuk_kaolinite.raw", "4001"}, {"raw3/g2tut_Keokuk_kaolinite.raw", "3501", 1},
        {"raw3/xylib_format1.raw", "51", 2},
        {"raw3/xylib_format1.raw", "Parse error: Bruker RAW: scan 3 is out of range; file has 3 scans", 3},
        {"raw3/xylib_BT86.raw", "2374"}, {"raw3/chemotion_PD-01-02.raw", "3945"},
        {"raw3/g2tut_LaB6_Jan2018.raw", "3040"}, {"raw4/nomadm_test_sample.raw", "7134"},
        {"raw4/xrdconv_ANP_BiVO4.raw", "3427"}, {"raw4/xrdconv_BaZrS3.raw", "2448"},
        {"raw4/xrdconv_SbI3.raw", "1399"}, {"raw4/xrdconv_GTT-01-02_Mn2ZnN2.raw", "1399"},
        {"xrdml/chemotion_LA_P37cd_DUT52Zr_25C.xrdml", "6474"}, {"xrdml/nomadm_XRD-918-16_10.xrdml", "5027"},
        {"xrdml/xru_simpack_xrd_AlGaAs.xrdml", "2999"}, {"xrdml/xylib_empyrean.xrdml", "196"},
        {"xrdml/nomadm_m82762_mesh.xrdml", "255", 100},
        {"xrdml/nomadm_m82762_mesh.xrdml", "Parse error: scan 101 is out of range (101 scans)", 101},
        {"xrdml/mtex_polefig.xrdml", "Parse error: XRDML scan axis \"Phi\" is not 2theta", 29},
        {"brml/chameleon_standard.brml", "1757"}, {"brml/dxtools_Sin2Psi.brml", "251", 17},
        {"brml/dxtools_Temperature.brml", "501", 21},
        {"brml/dxtools_Temperature.brml", "Parse error: scan 22 is out of range (22 scans)", 22},
        {"brml/nomadm_23-012-AG_2thomegascan_long.brml", "2001"}, {"brml/xrdconv_ANP_BiVO4.brml", "3427"},
        {"rasx/nomadm_Omega-2Theta_scan_high_temperature.rasx", "1042"},
        {"rasx/nomadm_RSM_111_sdd350.rasx", "301", 400}, {"rasx/nomadm_TwoTheta_scan_powder.rasx", "2726"},
        {"rasx/rigakuXRD_RM20220915Si01.rasx", "2151"}};
    if (!corpus_dir()) GTEST_SKIP() << "no corpus";
    for (const auto& f : files)
        if (auto r = load_corpus(f.path, f.index))
            EXPECT_EQ(*r ? std::to_string((*r)->size()) : error_text(*r), f.expected)
                << f.path << " [" << f.index << "]";
}

TEST(Corpus, SameMeasurementSamePoints) {
    // How far the angles of two exports may differ (text exports round them);
    // intensities must be equal.
    const struct {
        const char *first, *second;
        double x_tolerance;
    } pairs[] = {{"uxd/xylib_BT86_LF.uxd", "uxd/xylib_BT86_CRLF.uxd", 0.0},
                 {"raw3/xylib_BT86.raw", "uxd/xylib_BT86_LF.uxd", 0.005},
                 {"raw3/chemotion_PD-01-02.raw", "uxd/chemotion_PD-01-02.uxd", 0.0012},
                 {"raw4/xrdconv_ANP_BiVO4.raw", "xy/xrdconv_ANP_BiVO4.truth.xy", 6e-5},
                 {"brml/xrdconv_ANP_BiVO4.brml", "xy/xrdconv_ANP_BiVO4.truth.xy", 1.0001e-4},
                 {"xrdml/chemotion_LA_P37cd_DUT52Zr_25C.xrdml", "xy/chemotion_LA_P37cd_DUT52Zr_25C.xy", 1e-9}};
    for (const auto& m : pairs) {
        auto a = load_corpus(m.first), b = load_corpus(m.second);
        if (!a || !b) continue;
        SCOPED_TRACE(std::string(m.first) + " ~ " + m.second);
        ASSERT_TRUE(*a && *b) << error_text(*a) << "; " << error_text(*b);
        ASSERT_EQ((*a)->size(), (*b)->size());
        for (std::size_t i = 0; i < (*a)->size(); ++i) {
            ASSERT_NEAR((*a)->x()[i], (*b)->x()[i], m.x_tolerance) << "point " << i;
            ASSERT_EQ((*a)->y()[i], (*b)->y()[i]) << "point " << i;
        }
    }
}

}  // namespace
}  // namespace difrax

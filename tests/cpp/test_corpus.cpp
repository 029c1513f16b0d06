// Real instrument files, when the checkout has the shared corpus: every file
// loads with its known number of points, or is refused with the message that
// names its fault; files holding the same measurement agree point for point.
#include <cmath>
#include <filesystem>

#include "support.hpp"

namespace difrax {
namespace {

using testing::corpus_dir;
using testing::error_text;
using testing::load;
using testing::read_file;

struct CorpusFile {
    const char* path;
    std::uint64_t index;
    // Points of the loaded pattern, or 0 when the file is refused with
    // `error`.
    std::size_t points;
    const char* error = "";
};

void PrintTo(const CorpusFile& f, std::ostream* os) { *os << f.path << " [" << f.index << "]"; }

class Corpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(Corpus, LoadsOrIsRefusedForItsFault) {
    auto dir = corpus_dir();
    if (!dir || !std::filesystem::exists(*dir / GetParam().path)) GTEST_SKIP() << "corpus file absent";
    const CorpusFile& f = GetParam();
    auto r = load(read_file(*dir / f.path), f.path, f.index);
    if (f.points == 0) {
        EXPECT_EQ(error_text(r), f.error);
    } else {
        ASSERT_TRUE(r) << error_text(r);
        EXPECT_EQ(r->size(), f.points);
    }
}

INSTANTIATE_TEST_SUITE_P(
    InstrumentFiles, Corpus,
    ::testing::Values(
        CorpusFile{"xy/chemotion_LA_P37cd_DUT52Zr_25C.xy", 0, 6474}, CorpusFile{"xy/dioptas_CeO2_Pilatus1M.xy", 0, 1512},
        CorpusFile{"xy/dioptas_pattern_001.xy", 0, 1400}, CorpusFile{"xy/g2tut_x3lactos.xye", 0, 4776},
        CorpusFile{"xy/xru_LaB6_d500_si_psd.xye", 0, 17381},
        CorpusFile{"chi/chiplotter_LaB6_0003.chi", 0, 1500}, CorpusFile{"chi/dioptas_Fe7C3_300_020.chi", 0, 1449},
        // Its third header line is NUL padding.
        CorpusFile{"chi/dioptas_LaB6_p49_001.chi", 0, 1449},
        CorpusFile{"chi/dioptas_spectrum_001.chi", 0, 0, "Parse error: CHI: header declares 1455 points but 75 were read"},
        CorpusFile{"ras/rigakuXRD_MB120718Si3.ras", 0, 1401},
        CorpusFile{"ras/xru_inas_layer_radial_002_004.ras", 0, 1501},
        CorpusFile{"ras/xru_inas_layer_radial_002_004.ras", 1, 2501},
        CorpusFile{"ras/xru_inas_layer_radial_002_004.ras", 2, 0, "Parse error: RAS: scan 2 is out of range (2 scans)"},
        CorpusFile{"ras/hanlin_CWO-006-omega_00001_frc.ras", 0, 0,
                   "Parse error: RAS: axis \"Omega\" is not 2theta in degrees"},
        CorpusFile{"ras/mtex_Bruker_xrd_10-10.ras", 0, 0, "Parse error: RAS: axis \"Phi\" is not 2theta in degrees"},
        CorpusFile{"uxd/xylib_BT86_LF.uxd", 0, 2374}, CorpusFile{"uxd/xylib_BT86_CRLF.uxd", 0, 2374},
        CorpusFile{"uxd/chemotion_PD-01-02.uxd", 0, 3945},
        CorpusFile{"uxd/mtex_bruker_polefig.uxd", 0, 0, "Parse error: UXD: axis \"PHI\" is not 2theta in degrees"},
        CorpusFile{"uxd/dxtools_Sin2Psi.uxd", 0, 0, "Parse error: UXD: unsupported block marker \"_SAMPLE\""},
        CorpusFile{"gsas/g2tut_NIST660CBI.gsas", 0, 8378}, CorpusFile{"gsas/g2tut_PBSO4.xra", 0, 6001},
        CorpusFile{"gsas/g2tut_Quinoli.gda", 0, 7361}, CorpusFile{"gsas/g2tut_11bmb_8714.fxye", 0, 49493},
        // A NUL byte stands in its title line.
        CorpusFile{"gsas/g2tut_LaMnO3_50k.gsas", 0, 3296},
        CorpusFile{"gsas/g2tut_gem05984.gss", 0, 0,
                   "Parse error: GSAS: RALF binning does not provide a supported 2theta axis"},
        CorpusFile{"pdcif/cod_1516218.cif", 0, 3955}, CorpusFile{"pdcif/cod_1518592.cif", 0, 5300},
        CorpusFile{"pdcif/cod_cm903170t_si_001.cif", 0, 3040}, CorpusFile{"pdcif/xylib_COD1517474.cif", 0, 3296},
        CorpusFile{"pdcif/cod_2240655_tof.cif", 0, 0,
                   "Parse error: pdCIF: no matching block with 2theta and intensity data"},
        CorpusFile{"raw3/g2tut_Keokuk_kaolinite.raw", 0, 4001}, CorpusFile{"raw3/g2tut_Keokuk_kaolinite.raw", 1, 3501},
        CorpusFile{"raw3/xylib_format1.raw", 2, 51},
        CorpusFile{"raw3/xylib_format1.raw", 3, 0, "Parse error: Bruker RAW: scan 3 is out of range; file has 3 scans"},
        CorpusFile{"raw3/xylib_BT86.raw", 0, 2374}, CorpusFile{"raw3/chemotion_PD-01-02.raw", 0, 3945},
        CorpusFile{"raw3/g2tut_LaB6_Jan2018.raw", 0, 3040}, CorpusFile{"raw4/nomadm_test_sample.raw", 0, 7134},
        CorpusFile{"raw4/xrdconv_ANP_BiVO4.raw", 0, 3427}, CorpusFile{"raw4/xrdconv_BaZrS3.raw", 0, 2448},
        CorpusFile{"raw4/xrdconv_SbI3.raw", 0, 1399}, CorpusFile{"raw4/xrdconv_GTT-01-02_Mn2ZnN2.raw", 0, 1399},
        CorpusFile{"xrdml/chemotion_LA_P37cd_DUT52Zr_25C.xrdml", 0, 6474},
        CorpusFile{"xrdml/nomadm_XRD-918-16_10.xrdml", 0, 5027}, CorpusFile{"xrdml/xru_simpack_xrd_AlGaAs.xrdml", 0, 2999},
        CorpusFile{"xrdml/xylib_empyrean.xrdml", 0, 196}, CorpusFile{"xrdml/nomadm_m82762_mesh.xrdml", 100, 255},
        CorpusFile{"xrdml/nomadm_m82762_mesh.xrdml", 101, 0, "Parse error: scan 101 is out of range (101 scans)"},
        CorpusFile{"xrdml/mtex_polefig.xrdml", 29, 0, "Parse error: XRDML scan axis \"Phi\" is not 2theta"},
        CorpusFile{"brml/chameleon_standard.brml", 0, 1757}, CorpusFile{"brml/dxtools_Sin2Psi.brml", 17, 251},
        CorpusFile{"brml/dxtools_Temperature.brml", 21, 501},
        CorpusFile{"brml/dxtools_Temperature.brml", 22, 0, "Parse error: scan 22 is out of range (22 scans)"},
        CorpusFile{"brml/nomadm_23-012-AG_2thomegascan_long.brml", 0, 2001},
        CorpusFile{"brml/xrdconv_ANP_BiVO4.brml", 0, 3427},
        CorpusFile{"rasx/nomadm_Omega-2Theta_scan_high_temperature.rasx", 0, 1042},
        CorpusFile{"rasx/nomadm_RSM_111_sdd350.rasx", 400, 301},
        CorpusFile{"rasx/nomadm_TwoTheta_scan_powder.rasx", 0, 2726},
        CorpusFile{"rasx/rigakuXRD_RM20220915Si01.rasx", 0, 2151}));

struct SameMeasurement {
    const char* first;
    const char* second;
    // How far the angles of the two exports may differ (the text exports
    // round them); intensities must be equal.
    double x_tolerance;
};

void PrintTo(const SameMeasurement& m, std::ostream* os) { *os << m.first << " ~ " << m.second; }

class Agreement : public ::testing::TestWithParam<SameMeasurement> {};

TEST_P(Agreement, SameMeasurementSamePoints) {
    auto dir = corpus_dir();
    const SameMeasurement& m = GetParam();
    if (!dir || !std::filesystem::exists(*dir / m.first) || !std::filesystem::exists(*dir / m.second))
        GTEST_SKIP() << "corpus files absent";
    auto a = load(read_file(*dir / m.first), m.first);
    auto b = load(read_file(*dir / m.second), m.second);
    ASSERT_TRUE(a) << error_text(a);
    ASSERT_TRUE(b) << error_text(b);
    ASSERT_EQ(a->size(), b->size());
    for (std::size_t i = 0; i < a->size(); ++i) {
        ASSERT_NEAR(a->x()[i], b->x()[i], m.x_tolerance) << "point " << i;
        ASSERT_EQ(a->y()[i], b->y()[i]) << "point " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, Agreement,
    ::testing::Values(SameMeasurement{"uxd/xylib_BT86_LF.uxd", "uxd/xylib_BT86_CRLF.uxd", 0.0},
                      SameMeasurement{"raw3/xylib_BT86.raw", "uxd/xylib_BT86_LF.uxd", 0.005},
                      SameMeasurement{"raw3/chemotion_PD-01-02.raw", "uxd/chemotion_PD-01-02.uxd", 0.0012},
                      SameMeasurement{"raw4/xrdconv_ANP_BiVO4.raw", "xy/xrdconv_ANP_BiVO4.truth.xy", 6e-5},
                      SameMeasurement{"brml/xrdconv_ANP_BiVO4.brml", "xy/xrdconv_ANP_BiVO4.truth.xy", 1.0001e-4},
                      SameMeasurement{"xrdml/chemotion_LA_P37cd_DUT52Zr_25C.xrdml",
                                      "xy/chemotion_LA_P37cd_DUT52Zr_25C.xy", 1e-9}));

}  // namespace
}  // namespace difrax

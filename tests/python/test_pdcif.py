"""End-to-end loads of powder CIF (pdCIF) through read_bytes."""

import pytest

import difrax
from conftest import corpus_files

# A refinement deposit: a publication block without a profile, then two
# diffractograms, the second with processed intensities and a corrected axis.
PDCIF = """\
#\\#CIF_1.1
data_global
_publ_section_title
;
 Crystal structure of a made-up oxide
 from laboratory powder data
;
_journal_name_full 'Acta Cryst. E'
loop_
 _publ_author_name
 'O'Brien, A.'
 "Smith, B."

data_sample_run1
_pd_block_id  2024-01-01T10:00|RUN1|lab
_diffrn_radiation_wavelength  1.540562
_pd_meas_2theta_range_min     10.00
_pd_meas_2theta_range_max     10.08
_pd_meas_2theta_range_inc     0.02
loop_
 _pd_meas_counts_total
 _pd_proc_ls_weight
   112(11)  0.0089
   118(11)  0.0085
   121(11)  0.0083   # a comment inside the loop
   130(12)  0.0077
   127(11)  0.0079

data_sample_run2
_pd_meas_2theta_range_min     5.0
_pd_meas_2theta_range_inc     0.5
loop_
 _pd_proc_2theta_corrected
 _pd_proc_intensity_total
 _pd_meas_counts_total
   20.012  1.5e2(3)  150
   20.032  160.25    161
   20.052  171.0(12) 171
"""

RUN1 = ([10.0 + 0.02 * i for i in range(5)], [112.0, 118.0, 121.0, 130.0, 127.0])
RUN2 = ([20.012, 20.032, 20.052], [150.0, 160.25, 171.0])
NO_MATCH = "^Parse error: pdCIF: no matching block with 2theta and intensity data$"


def load(content, name, **options):
    data = content.encode() if isinstance(content, str) else content
    return difrax.read_bytes(data, name, **options)


@pytest.mark.parametrize("name", ["", "pattern.txt", "pattern.xy", "refined.cif"])
def test_reached_by_content(name):
    pattern = load(PDCIF, name)
    assert (pattern.x, pattern.y) == RUN1


def test_reached_by_extension():
    # Upper-case keywords and tags are CIF, but not the markers detection
    # looks for, so only the extension leads here.
    upper = PDCIF.replace("data_", "DATA_").replace("_pd_", "_PD_")
    for name in ["refined.cif", "REFINED.CIF"]:
        pattern = load(upper, name, block="run2")
        assert (pattern.x, pattern.y) == RUN2


@pytest.mark.parametrize("block, expected", [(None, RUN1), ("", RUN1), ("run1", RUN1), ("run2", RUN2),
                                             ("sample_", RUN1)])
def test_block_picks_the_first_name_containing_it(block, expected):
    pattern = load(PDCIF, "refined.cif", block=block)
    assert (pattern.x, pattern.y) == expected


@pytest.mark.parametrize("block", ["RUN2", "global", "run3"])
def test_block_without_a_profile_is_refused(block):
    with pytest.raises(ValueError, match=NO_MATCH):
        load(PDCIF, "refined.cif", block=block)


@pytest.mark.parametrize("block", [None, "run2"])
def test_index_other_than_zero_is_refused(block):
    with pytest.raises(ValueError, match="^Parse error: this format has one pattern; index must be 0$"):
        load(PDCIF, "refined.cif", index=1, block=block)


def test_utf16_text_and_descending_axis():
    descending = "data_d\nloop_ _pd_meas_2theta_scan _pd_meas_intensity_total\n 30 3\n 20 2\n 10 1\n"
    pattern = load(b"\xff\xfe" + descending.encode("utf-16-le"), "scan.cif")
    assert (pattern.x, pattern.y) == ([10.0, 20.0, 30.0], [1.0, 2.0, 3.0])


@pytest.mark.parametrize(
    "change, message",
    [
        (("121(11)", "?"), 'Invalid numeric value "\\?"'),
        (("10.08", "10.1"), "pdCIF: angular range disagrees with point count"),
        (("'Acta Cryst. E'", "'Acta Cryst. E"), "pdCIF: unterminated quoted value"),
    ],
)
def test_faults_fail_the_whole_load(change, message):
    with pytest.raises(ValueError, match=f"^Parse error: {message}$"):
        load(PDCIF.replace(*change), "refined.cif")


def test_corpus_multi_block_file():
    files = corpus_files("pdcif", "cod_cm903170t_si_001.cif")
    if not files:
        pytest.skip("multi-block corpus file not present")
    data = files[0].read_bytes()
    whole = load(data, "cm903170t.cif")
    chosen = load(data, "cm903170t.cif", block="_p_01")
    assert len(whole.x) == 3040
    assert (whole.x, whole.y) == (chosen.x, chosen.y)
    with pytest.raises(ValueError, match=NO_MATCH):
        load(data, "cm903170t.cif", block="phase_1")

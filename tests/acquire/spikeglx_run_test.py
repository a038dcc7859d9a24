#!/usr/bin/python3
"""np3-acquire records four simulated probes sending a ramp; the run is read back with the
SpikeGLX reader analysis pipelines use (neo's SpikeGLXRawIO) and drawn by scripts/plot-run. A
second run replays a recording in which the box dropped super frames of one port.

    spikeglx_run_test.py NP3_ACQUIRE PLOT_RUN MURA_SYNTH
"""

import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from neo.rawio import SpikeGLXRawIO

ACQUIRE = PLOT_RUN = MURA_SYNTH = None
PROBES = 4
AP_GAIN, LF_GAIN = 1000, 125
CHANNELS = 384
PACKET_ROWS = 12
# The probe's ADC range and the RHD interface's auxiliary ADC range, as the .meta states them.
PROBE_RANGE_VOLTS, ADC_RANGE_VOLTS = 0.6, 1.65
ADC_SAMPLES = 12
ADC_WORDS = 8

# The synthesizer's ramp, less 512: the AP value of a port's channel in super frame s is
# (s + 3 channel + 101 port) mod 1024, the LF value in LF sample n (7 n + channel + 37 port + 512)
# mod 1024. A row's channel 0 gives its phase; every channel must agree with it.
def ramp_ap_rows(port, rows, channels):
    phase = (rows[:, 0].astype(np.int64) + 512 - 101 * port) % 1024
    return phase, ((phase[:, None] + 3 * channels[None, :] + 101 * port) & 0x3FF) - 512


def ramp_lf_rows(port, rows, channels):
    phase = (rows[:, 0].astype(np.int64) - 37 * port) % 1024
    return phase, ((phase[:, None] + channels[None, :] + 37 * port + 512) & 0x3FF) - 512


# The synthesizer's RHD frames: auxiliary words from its hash (seed 1), TTL inputs held for
# 1,000 frames each in turn, TTL input 9 replaced by a 1 Hz sync pulser (high for the first half
# of each second). A packet's status holds TTL inputs 17..9 and a flag set when they changed
# since the previous frame.
TTL_VALUES = np.array([0x00000000, 0x00000300, 0x00030000, 0x0003FF00], dtype=np.uint64)
TTL_HOLD = 1000
SYNC_LINE = np.uint64(1 << 9)
RHD_PREAMBLE_FIRST_WORD = 0x2A53
# Status bits of a probe sample (the SY channel): TRIGGER, ERR_COUNT, SYNC.
TRIGGER, ERR_COUNT, SYNC = 1, 4, 64
# The ADC stream's digital word carries TTL input 9, the sync input, in bit 7.
XD0_SYNC_BIT = 7


def ttl_inputs(frames):
    pattern = TTL_VALUES[(frames // TTL_HOLD) % len(TTL_VALUES)]
    pulser = np.where(frames % 30000 < 15000, SYNC_LINE, np.uint64(0))
    return (pattern & ~SYNC_LINE) | pulser



def mix(x):
    x = x + np.uint64(0x9E3779B97F4A7C15)
    x = (x ^ (x >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    x = (x ^ (x >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    return x ^ (x >> np.uint64(31))


def synth_hash(a, b, c, d, seed=1):
    with np.errstate(over="ignore"):
        x = mix(np.uint64(seed) ^ np.uint64(a))
        x = mix(x ^ b)
        x = mix(x ^ np.uint64(c))
        return mix(x ^ np.uint64(d))


def adc_packets_of_frames(frames):
    """The 12 samples and the status word the RHD converter makes of each frame."""
    samples = np.zeros((len(frames), ADC_SAMPLES), dtype=np.int16)
    for word in range(ADC_WORDS):
        aux = (synth_hash(5, frames, word, 0) & np.uint64(0xFFFF)).astype(np.uint32)
        aux[aux == RHD_PREAMBLE_FIRST_WORD] -= 1
        samples[:, word] = ((aux + 0x8000) & 0xFFFF).astype(np.uint16).view(np.int16)
    ttl = ttl_inputs(frames)
    previous = np.where(frames > 0, ttl_inputs(np.maximum(frames, 1) - 1), 0)
    changed = (previous != ttl).astype(np.uint64)
    status = ((((ttl >> np.uint64(8)) & np.uint64(0xFFFE)) | changed) << np.uint64(6)) & np.uint64(0xFFFF)
    return samples, status.astype(np.uint16).view(np.int16)


class SpikeGLXRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.run_dir = os.path.join(cls.scratch.name, "ramp")
        done = subprocess.run([ACQUIRE, "--seconds", "2", "--output", cls.run_dir, "--signal", "ramp",
                               "--ap-gain", str(AP_GAIN), "--lf-gain", str(LF_GAIN)],
                              capture_output=True, text=True, timeout=240)
        if done.returncode != 0:
            raise AssertionError(f"np3-acquire failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
        cls.reader = SpikeGLXRawIO(dirname=cls.run_dir, load_sync_channel=True)
        cls.reader.parse_header()
        cls.streams = [str(stream["name"]) for stream in cls.reader.header["signal_streams"]]

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def channels_of(self, stream):
        channels = self.reader.header["signal_channels"]
        return channels[channels["stream_id"] == stream]

    def samples_of(self, stream):
        return self.reader.get_analogsignal_chunk(block_index=0, seg_index=0, i_start=None, i_stop=None,
                                                  stream_index=self.streams.index(stream),
                                                  channel_indexes=None)

    def test_streams_rates_channels_and_gains(self):
        expected = {f"imec{n}.{kind}" for n in range(PROBES) for kind in ("ap", "lf")} | {"nidq"}
        self.assertEqual(set(self.streams), expected)
        for n in range(PROBES):
            for kind, rate, gain in (("ap", 30000.0, AP_GAIN), ("lf", 2500.0, LF_GAIN)):
                channels = self.channels_of(f"imec{n}.{kind}")
                self.assertEqual(len(channels), CHANNELS + 1)
                self.assertTrue(np.all(channels["sampling_rate"] == rate))
                self.assertTrue(np.all(channels["units"][:CHANNELS] == "uV"))
                np.testing.assert_allclose(channels["gain"][:CHANNELS], PROBE_RANGE_VOLTS / 512 / gain * 1e6)
            meta = self.reader.signals_info_dict[0, f"imec{n}.ap"]["meta"]
            self.assertEqual(meta["syncSourceIdx"], "1")
            self.assertEqual(meta[f"imErrFlags{n}_IS_CT_SR_LK_PP_SY"], "0 0 0 0 0 0")
            self.assertEqual(meta["imDatPrb_port"], str(n + 1))
            self.assertEqual(meta["imDatPrb_pn"], "PRB_1_4_0480_1")
            self.assertEqual(meta["imDatPrb_sn"], "22175715561")
            self.assertEqual(meta["imDatHs_pn"], "NP2_HS_30")
            self.assertEqual(meta["imroTbl"][191], f"191 0 0 {AP_GAIN} {LF_GAIN} 1")
        adc = self.channels_of("nidq")
        self.assertEqual(len(adc), ADC_SAMPLES + 1)
        self.assertTrue(np.all(adc["sampling_rate"] == 30000.0))
        np.testing.assert_allclose(adc["gain"][:ADC_SAMPLES], ADC_RANGE_VOLTS / 32768)
        nidq = self.reader.signals_info_dict[0, "nidq"]["meta"]
        self.assertEqual((nidq["syncNiChanType"], nidq["syncNiChan"]), ("0", str(XD0_SYNC_BIT)))

    # The samples are the ramp less 512 and continue it from the first row to the last: no
    # sample invented, none repeated; the sync bit rises where the ADC stream's sync line does.
    def test_probe_samples_continue_the_ramp_and_carry_the_sync(self):
        xd0 = self.samples_of("nidq")[:, ADC_SAMPLES].view(np.uint16)
        for n in range(PROBES):
            port = n  # the synthesizer counts ports from 0
            ap = self.samples_of(f"imec{n}.ap")
            lf = self.samples_of(f"imec{n}.lf")
            packets = len(lf)
            self.assertGreater(packets, 100, f"imec{n}")
            self.assertEqual(len(ap), PACKET_ROWS * packets)
            channels = np.arange(CHANNELS)
            super_frames, expected = ramp_ap_rows(port, ap, channels)
            np.testing.assert_array_equal(ap[:, :CHANNELS], expected, f"imec{n}.ap")
            self.assertTrue(np.all(np.diff(super_frames) % 1024 == 1), f"imec{n}.ap: a sample missing or repeated")
            _, expected = ramp_lf_rows(port, lf, channels)
            np.testing.assert_array_equal(lf[:, :CHANNELS], expected, f"imec{n}.lf")
            status = ap[:, CHANNELS].view(np.uint16)
            self.assertEqual(list(np.nonzero(status & (TRIGGER | ERR_COUNT))[0]), [0], f"imec{n}: TRIGGER first only")
            # Row n of every stream is sample n of the run: the sync bit follows the ADC stream's
            # sync line sample for sample (it falls at 0.5 s and rises at 1 s).
            end = min(len(ap), len(xd0))
            self.assertGreater(end, 15000)
            np.testing.assert_array_equal((status[:end] >> 6) & 1, (xd0[:end] >> XD0_SYNC_BIT) & 1, f"imec{n}")

    def test_adc_samples_are_the_packet_values(self):
        rows = self.samples_of("nidq")
        self.assertGreater(len(rows), 1000)
        frames = np.arange(4 * 30000, dtype=np.uint64)
        samples, status = adc_packets_of_frames(frames)
        # Find each row's frame by its first two samples, then compare the whole packet.
        keys = samples[:, 0].astype(np.int64) * 65536 + samples[:, 1].astype(np.int64)
        order = np.argsort(keys)
        row_keys = rows[:, 0].astype(np.int64) * 65536 + rows[:, 1].astype(np.int64)
        found = order[np.clip(np.searchsorted(keys[order], row_keys), 0, len(keys) - 1)]
        np.testing.assert_array_equal(rows[:, :ADC_SAMPLES], samples[found])
        np.testing.assert_array_equal(rows[:, ADC_SAMPLES], status[found])
        self.assertTrue(np.all(np.diff(found) > 0), "ADC packets out of order")

    def test_bad_requests_are_refused_and_the_run_stays(self):
        meta = os.path.join(self.run_dir, "ramp_g0", "ramp_g0_imec0", "ramp_g0_t0.imec0.ap.meta")
        before = os.path.getmtime(meta)
        again = subprocess.run([ACQUIRE, "--seconds", "1", "--output", self.run_dir], capture_output=True,
                               text=True, timeout=60)
        self.assertEqual(again.returncode, 2)
        self.assertIn("already holds a run", again.stderr)
        self.assertEqual(os.path.getmtime(meta), before)
        bad_gain = subprocess.run([ACQUIRE, "--ap-gain", "700", "--output", os.path.join(self.scratch.name, "x")],
                                  capture_output=True, text=True, timeout=60)
        self.assertNotEqual(bad_gain.returncode, 0)
        self.assertIn("a Neuropixels 1.0 gain", bad_gain.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.scratch.name, "x")))

    # The box dropped 24 super frames (two packets) of port 2: its files keep the run's length
    # with 24 zero samples flagged ERR_COUNT where they are missing, the first sample after the
    # gap carries ERR_COUNT too, the other ports are untouched, and the library counts exactly
    # those 24.
    def test_a_gap_keeps_its_place_in_the_files(self):
        recording = os.path.join(self.scratch.name, "gap.bin")
        subprocess.run([MURA_SYNTH, "-o", recording, "--seconds", "0.6", "--rhd-streams", "0", "--content", "ramp",
                        "--fault", "lost-super-frames:1:1200:24"], check=True, capture_output=True, timeout=60)
        run_dir = os.path.join(self.scratch.name, "gap")
        done = subprocess.run([ACQUIRE, "--recording", recording, "--seconds", "1", "--output", run_dir],
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertRegex(done.stdout, r"\n   2      1 .* 1 gaps, 0\.001 s\n")
        with open(os.path.join(run_dir, "np3_bridge.log")) as log:
            self.assertIn("Data lost on port 2 : 24 super frames in 1 gaps;", log.read())
        reader = SpikeGLXRawIO(dirname=run_dir, load_sync_channel=True)
        reader.parse_header()
        names = [str(stream["name"]) for stream in reader.header["signal_streams"]]
        def rows(name):
            return reader.get_analogsignal_chunk(block_index=0, seg_index=0, i_start=None, i_stop=None,
                                                 stream_index=names.index(name), channel_indexes=None)
        gap, intact = rows("imec1.ap"), rows("imec0.ap")
        self.assertGreater(len(gap), 1300)
        np.testing.assert_array_equal(gap[1200:1224, :CHANNELS], 0)
        status = gap[:, CHANNELS].view(np.uint16)
        self.assertEqual(list(np.nonzero(status & ERR_COUNT)[0]), list(range(1200, 1225)))
        _, expected = ramp_ap_rows(1, gap[1224:], np.arange(CHANNELS))
        phase_before, _ = ramp_ap_rows(1, gap[1199:1200], np.arange(CHANNELS))
        phase_after, _ = ramp_ap_rows(1, gap[1224:1225], np.arange(CHANNELS))
        self.assertEqual((phase_after[0] - phase_before[0]) % 1024, 25)
        np.testing.assert_array_equal(gap[1224:, :CHANNELS], expected)
        self.assertEqual(np.count_nonzero(intact[:, CHANNELS].view(np.uint16) & ERR_COUNT), 0)
        self.assertEqual(len(rows("imec1.lf")), len(gap) // PACKET_ROWS)

    def test_plot_run_draws_a_png(self):
        picture = os.path.join(self.scratch.name, "ramp.png")
        subprocess.run(["/usr/bin/python3", PLOT_RUN, self.run_dir, "--output", picture], check=True,
                       capture_output=True, timeout=120)
        with open(picture, "rb") as png:
            self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertGreater(os.path.getsize(picture), 30000)


if __name__ == "__main__":
    ACQUIRE, PLOT_RUN, MURA_SYNTH = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)

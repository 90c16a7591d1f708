"""The Python package on the built component and the embedded simulator.

Run by CTest with QUORVEL_TEST_LIBRARY naming the built component."""

import array
import os
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import quorvel  # noqa: E402

LIBRARY = os.environ["QUORVEL_TEST_LIBRARY"]
_tmp = tempfile.TemporaryDirectory()


def setUpModule():
    os.environ["QUORVEL_COM_REGISTRY"] = os.path.join(_tmp.name, "components.reg")
    os.environ["QUORVEL_CONFIG"] = os.path.join(_tmp.name, "quorvel.ini")
    with open(os.environ["QUORVEL_CONFIG"], "w") as f:
        f.write("[Host]\nDataFolder = %s\n[Zentrix8]\n" % _tmp.name)
    quorvel.register(LIBRARY)


class Registration(unittest.TestCase):
    def test_the_command_line_registers_and_unregisters(self):
        env = dict(os.environ, QUORVEL_COM_REGISTRY=os.path.join(_tmp.name, "other.reg"),
                   PYTHONPATH=os.path.dirname(HERE))
        run = lambda *a: subprocess.run([sys.executable, "-m", "quorvel", *a], env=env, capture_output=True, text=True)
        self.assertEqual(run("register", LIBRARY).returncode, 0)
        with open(env["QUORVEL_COM_REGISTRY"]) as f:
            self.assertIn("InprocServer32 = " + os.path.abspath(LIBRARY), f.read())
        self.assertEqual(run("unregister", LIBRARY).returncode, 0)
        with open(env["QUORVEL_COM_REGISTRY"]) as f:
            self.assertNotIn("Tavlor_QuorvelUnit.clsQuorvelUnit", f.read())
        self.assertEqual(run("register", LIBRARY, "again").returncode, 2)

    def test_without_a_library_it_takes_the_one_the_loader_finds(self):
        folder = tempfile.mkdtemp(dir=_tmp.name)
        os.symlink(os.path.abspath(LIBRARY), os.path.join(folder, quorvel.SONAME))
        env = dict(os.environ, QUORVEL_COM_REGISTRY=os.path.join(folder, "installed.reg"), LD_LIBRARY_PATH=folder,
                   PYTHONPATH=os.path.dirname(HERE))
        done = subprocess.run([sys.executable, "-m", "quorvel", "register"], env=env, capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("registered " + os.path.join(folder, quorvel.SONAME), done.stdout)
        with open(env["QUORVEL_COM_REGISTRY"]) as f:
            self.assertIn("InprocServer32 = " + os.path.join(folder, quorvel.SONAME), f.read())
        saved = quorvel._library_folders
        quorvel._library_folders = lambda: [_tmp.name]  # nothing installed there
        try:
            with self.assertRaises(quorvel.QuorvelError) as caught:
                quorvel.register()
            self.assertEqual(caught.exception.number, 53)
            self.assertIn(quorvel.SONAME + " is not installed where the system's loader looks (" + _tmp.name,
                          caught.exception.description)
        finally:
            quorvel._library_folders = saved


class RegistryFiles(unittest.TestCase):
    """The registry is read by the component's rules, and every failure names the file in words."""

    def setUp(self):
        self.saved = os.environ["QUORVEL_COM_REGISTRY"]
        self.dir = tempfile.mkdtemp(dir=_tmp.name)

    def tearDown(self):
        os.environ["QUORVEL_COM_REGISTRY"] = self.saved

    def reading(self, path):
        os.environ["QUORVEL_COM_REGISTRY"] = path
        with self.assertRaises(quorvel.QuorvelError) as caught:
            quorvel._library_for(quorvel.PROGID)
        self.assertIn(path, caught.exception.description)
        return caught.exception.description

    def test_files_that_are_not_a_registry(self):
        fifo = os.path.join(self.dir, "fifo.reg")
        os.mkfifo(fifo)
        self.assertIn("not a regular file", self.reading(fifo))       # no hang
        self.assertIn("not a regular file", self.reading("/dev/zero"))  # no 2 GiB read
        big = os.path.join(self.dir, "big.reg")
        with open(big, "w") as f:
            f.write("[x]\n" + "k = v\n" * 200000)
        self.assertIn("larger than", self.reading(big))
        latin = os.path.join(self.dir, "latin.reg")
        with open(latin, "wb") as f:
            f.write(b"[Tavlor_QuorvelUnit.clsQuorvelUnit]\nCLSID = caf\xe9\n")
        self.assertIn("not UTF-8", self.reading(latin))
        junk = os.path.join(self.dir, "junk.reg")
        with open(junk, "w") as f:
            f.write("[a]\nthis is no line of a registry\n")
        self.assertIn("line 2", self.reading(junk))

    def test_registering_through_a_link_keeps_the_link_and_a_read_only_one_says_so(self):
        target = os.path.join(self.dir, "real.reg")
        link = os.path.join(self.dir, "link.reg")
        open(target, "w").close()
        os.symlink(target, link)
        os.environ["QUORVEL_COM_REGISTRY"] = link
        quorvel.register(LIBRARY)
        self.assertTrue(os.path.islink(link))
        with open(target) as f:
            self.assertIn("InprocServer32 = " + os.path.abspath(LIBRARY), f.read())
        with open(target, "a") as f:
            f.write("garbage without an equals sign\n")
        with self.assertRaises(quorvel.QuorvelError) as caught:  # corrupt: said in words, not 0x80040201 alone
            quorvel.register(LIBRARY)
        self.assertIn("expected [section] or key = value", caught.exception.description)
        with open(target, "w") as f:
            f.write("")
        if os.geteuid() != 0:  # root writes read-only files
            os.chmod(target, 0o444)
            os.chmod(self.dir, 0o555)
            try:
                with self.assertRaises(quorvel.QuorvelError) as caught:
                    quorvel.unregister(LIBRARY)
                self.assertIn("cannot be written (read-only)", caught.exception.description)
            finally:
                os.chmod(self.dir, 0o755)


class BurstSearch(unittest.TestCase):
    def test_the_readme_example_finds_the_simulators_bursts(self):
        env = dict(os.environ, PYTHONPATH=os.path.dirname(HERE))
        out = subprocess.run([sys.executable, os.path.join(os.path.dirname(HERE), "examples", "burst_search.py")],
                             env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("embedded simulator", out.stdout)
        self.assertRegex(out.stdout, r"\n5 bursts, duty cycle 20\.0 %")
        self.assertEqual(len([line for line in out.stdout.splitlines() if " dBm" in line]), 5)


class ReadmeExample(unittest.TestCase):
    """The README's Python example runs as printed, and the check it teaches catches a refused setting."""

    def block(self):
        with open(os.path.join(os.path.dirname(os.path.dirname(HERE)), "README.md")) as f:
            text = f.read()
        start = text.index("```python\n", text.index("## Scripting from Python")) + len("```python\n")
        return text[start:text.index("```", start)]

    def run_block(self, code):
        env = dict(os.environ, PYTHONPATH=os.path.dirname(HERE))
        return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)

    def test_runs_as_printed(self):
        out = self.run_block(self.block())
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertRegex(out.stdout, r"^5 \[")
        self.assertIn("9 ", out.stdout)

    def test_a_refused_setting_stops_it_with_the_units_words(self):
        code = self.block().replace("u.SetFrequency(2.4e9, P.ppDUTAll)", "u.SetFrequency(1e15, P.ppDUT2)")
        self.assertIn("1e15", code)
        out = self.run_block(code)
        self.assertNotEqual(out.returncode, 0)
        self.assertIn("the unit refused: -222,'Data out of range'", out.stderr)


class Dispatching(unittest.TestCase):
    def setUp(self):
        self.u = quorvel.Dispatch("Tavlor_QuorvelUnit.clsQuorvelUnit")
        self.u.clsDevice_Name = "Zentrix8"

    def test_properties_methods_and_references_by_name(self):
        u = self.u
        self.assertEqual(u.CLSDEVICE_NAME, "Zentrix8")
        u.Frequency[2] = 1e9
        self.assertEqual(u.Frequency(2), 1e9)
        u.SetMeasTime(0.02, port=3)            # keywords by parameter name, send left out
        self.assertEqual(u.GetMeasTime(3, False), 0.02)
        u.SetSumPorts([2, 3])
        self.assertEqual(u.GetSumPorts(False), [2, 3])
        self.assertIsInstance(u.Device, quorvel.Dispatch)
        self.assertIn("GetBurstLevel", dir(u))

    def test_records_go_both_ways(self):
        prop = quorvel.AttTableProp(FromPort=quorvel.QuorvelPort.pDUT1, ToPort=quorvel.QuorvelPort.pReceiver)
        self.assertGreater(self.u.GetPathNr(prop), 0)
        prop.ToPort = quorvel.QuorvelPort.pDUT2  # no such path
        self.assertEqual(self.u.GetPathNr(prop), 0)
        info = self.u.clsDevice_Info
        self.assertIsInstance(info, quorvel.DeviceInfo)

    def test_errors_carry_number_and_description(self):
        with self.assertRaises(quorvel.UnknownNameError) as e:
            self.u.NoSuchMethod()
        self.assertEqual(e.exception.number, 438)
        self.assertFalse(hasattr(self.u, "NoSuchProperty"))
        with self.assertRaises(quorvel.QuorvelError) as e:
            self.u.SetFrequency("fast")
        self.assertEqual(e.exception.number, 13)
        self.assertIn("frq", e.exception.description)
        with self.assertRaises(quorvel.QuorvelError) as e:
            self.u.Frequency(9)
        self.assertEqual(e.exception.number, 9)
        self.assertTrue(e.exception.description)
        # A required argument left out is named.
        for call, missing in ((lambda: self.u.GetMeasTime(1), "fromDevice"), (self.u.GetBurstCount, "port")):
            with self.assertRaises(quorvel.QuorvelError) as e:
                call()
            self.assertEqual(e.exception.number, 449)
            self.assertTrue(e.exception.description.endswith(", " + missing), e.exception.description)

    def test_enumerations_come_from_the_type_library(self):
        self.assertEqual(quorvel.QuorvelPowerPort.ppSum, -1)
        self.assertEqual(quorvel.QuorvelPath.ptEnd, 46)
        self.assertEqual(quorvel.QuorvelErrorStatus.esABORT, 4)
        self.assertEqual(set(quorvel.enumerations()), {"QuorvelPowerPort", "QuorvelPort", "QuorvelPath",
                                                       "QuorvelAttenuator", "QuorvelErrorStatus"})
        self.assertEqual([n for n, _ in quorvel.MeasuredValue._fields], ["Value", "Unit"])

    def test_lists_come_back_into_a_list_or_an_array(self):
        u = self.u
        u.clsDevice_Status = 1
        u.clsDevice_Initialize()
        u.SetSampleRate(1000000, 1, True)
        u.SetMeasTime(0.004999, 1, True)  # 5000 samples
        u.MeasurementInit(1)
        values, packed, single = [1.5], array.array("d", [7.0]), array.array("f")
        u.GetTrace(1, values)
        u.GetTrace(1, packed)
        u.GetTrace(1, single)
        self.assertEqual(len(values), 5000)
        self.assertTrue(all(isinstance(x, float) for x in values))
        self.assertEqual(packed.tolist(), values)  # the whole answer, nothing of what was there before
        self.assertEqual(single.tolist(), [float(array.array("f", [x])[0]) for x in values])
        # An array that cannot hold the numbers is a type mismatch, and keeps what it held.
        whole = array.array("i", [7])
        with self.assertRaises(quorvel.QuorvelError) as e:
            u.GetTrace(1, whole)
        self.assertEqual(e.exception.number, 13)
        self.assertEqual(whole.tolist(), [7])
        # Numbers go in from an array as from a list.
        u.SetSumPorts(array.array("i", [4, 5]))
        self.assertEqual(u.GetSumPorts(False), [4, 5])
        u.SetSumPorts((2, 3))
        self.assertEqual(u.GetSumPorts(False), [2, 3])

    def test_arguments_by_name_and_number_kinds(self):
        import fractions

        class Port:  # a whole number of another kind, as numpy's are
            def __index__(self):
                return 4

        u = self.u
        u.SetFrequency(fractions.Fraction(5, 2) * 10**9, Port())
        self.assertEqual(u.Frequency[4], 2.5e9)
        for call in (lambda: u.SetFrequency(5e9, 3, port=4), lambda: u.SetFrequency(6e9, port=4, Port=3)):
            with self.assertRaises(TypeError):
                call()
        self.assertEqual(u.Frequency[4], 2.5e9, "nothing of a refused call was set")
        # The parameter left out is named, wherever the gap is.
        for call, missing in ((lambda: u.SetFrequency(port=5), "frq"),
                              (lambda: setattr(u, "Frequency", 5), "port")):
            with self.assertRaises(quorvel.QuorvelError) as e:
                call()
            self.assertEqual(e.exception.number, 449)
            self.assertTrue(e.exception.description.endswith(", " + missing), e.exception.description)

    def test_threads_calling_at_once_keep_their_own_arguments(self):
        # ctypes lets other threads run while one is in the component: each keeps its own call.
        wrong = []

        def station(port):
            o = quorvel.Dispatch("Tavlor_QuorvelUnit.clsQuorvelUnit")
            o.clsDevice_Name = "Zentrix8"
            o.SetMeasTime(0.001 * port, port)
            for k in range(300):
                frequency = 1e9 + port * 1e6 + k
                o.Frequency[port] = frequency
                got = o.Frequency[port]
                if got != frequency or o.GetMeasTime(port, False) != 0.001 * port:
                    wrong.append((port, k, got))
        threads = [threading.Thread(target=station, args=(p,)) for p in range(1, 9)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual(wrong, [])


if __name__ == "__main__":
    unittest.main()

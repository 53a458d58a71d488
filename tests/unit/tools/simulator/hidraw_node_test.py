"""The emulated hidraw node behaves for its openers as the kernel's hidraw
node of a full-speed HID device: per-opener queues of 64 reports, hidraw's
write limits, report id byte first, unplug and hang errors, a failing write,
and the ioctls hidapi and Wine ask. Run by hidraw_node_test.sh."""
import errno, fcntl, os, select, struct, subprocess, sys, time, unittest

SIM, WORK = sys.argv[1], sys.argv[2]
INFO = "21030A1F414243010000000052313030"
NODE = "/dev/hidraw0"


def command(opcode, first_page, pages):
    """A 65-byte command report as the program builds it: report id 0, the
    18-byte block (opcode, length 14, two arguments, signature, checksum, all
    little-endian), 0xCC after it."""
    block = struct.pack("<BBIII", opcode, 14, first_page, pages, 0x93BEE369)
    block += struct.pack("<I", sum(block))
    return b"\0" + block + b"\xcc" * (64 - len(block))


READ = 0xD2


class Device:
    def __init__(self, *options):
        self.log = os.path.join(WORK, "node.log")
        self.proc = subprocess.Popen([SIM, "--hidraw", "0", "--info", INFO, "--log", self.log, *options],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert self.proc.stdout.readline().startswith("ruvo-sim ready /dev/hidraw0")

    def lines(self):
        with open(self.log) as f:
            return f.read().splitlines()

    def stop(self):
        self.proc.communicate("quit\n", timeout=10)


class HidrawNode(unittest.TestCase):
    def setUp(self):
        self.fds = []

    def tearDown(self):
        for fd in self.fds:
            os.close(fd)
        self.device.stop()
        self.assertFalse(os.path.lexists(NODE), "the node outlived its device")

    def open(self, flags=os.O_RDWR):
        fd = os.open(NODE, flags)
        self.fds.append(fd)
        return fd

    def read_all(self, fd):
        reports = []
        while True:
            try:
                reports.append(os.read(fd, 65))
            except BlockingIOError:
                return reports

    def settle(self):
        time.sleep(0.3)  # an unpaced device answers in far less

    def test_every_opener_gets_its_own_copy_up_to_64(self):
        self.device = Device()
        a, b = self.open(os.O_RDWR | os.O_NONBLOCK), self.open(os.O_RDWR | os.O_NONBLOCK)
        os.write(a, command(READ, 8175, 1))
        self.settle()
        for fd in (a, b):
            reports = self.read_all(fd)
            self.assertEqual([len(r) for r in reports], [64] * 4)  # no report id byte on input
            self.assertEqual(reports[0][:16].hex().upper(), INFO)
        # 64 + 4 reports for an opener that does not read: the first 64 stay, the rest are dropped.
        os.write(a, command(READ, 0, 16))
        os.write(a, command(READ, 8175, 1))
        self.settle()
        reports = self.read_all(b)
        self.assertEqual(len(reports), 64)
        self.assertEqual(reports[-1], b"\xff" * 64)
        self.assertEqual(self.device.lines(), ["READ 8175 1", "READ 0 16", "READ 8175 1"])

    def test_write_lengths_and_report_id(self):
        self.device = Device()
        fd = self.open()
        # (A write of 0 bytes never reaches a FUSE file: the kernel answers 0 itself.)
        for size in (1, 16385):
            with self.assertRaises(OSError) as caught:
                os.write(fd, bytes(size))
            self.assertEqual(caught.exception.errno, errno.EINVAL, size)
        self.assertEqual(os.write(fd, bytes(64)), 64)   # reaches the device, which refuses it
        self.assertEqual(os.write(fd, bytes(2)), 2)
        self.assertEqual(os.write(fd, b"\x05" + command(READ, 8175, 1)[1:]), 65)
        self.assertEqual(os.write(fd, command(READ, 8175, 1)), 65)
        self.settle()
        self.assertEqual(self.device.lines(), ["BAD size 64", "BAD size 2", "BAD report-id 05", "READ 8175 1"])

    def test_ioctls(self):
        self.device = Device()
        fd = self.open()
        size = struct.unpack("i", fcntl.ioctl(fd, 0x80044801, bytes(4)))[0]          # HIDIOCGRDESCSIZE
        descriptor = bytearray(4100)
        fcntl.ioctl(fd, 0x90044802, descriptor, True)                                  # HIDIOCGRDESC
        self.assertEqual(struct.unpack_from("I", descriptor)[0], size)
        self.assertEqual(descriptor[4:7], b"\x06\x00\xff")                            # vendor page
        bus, vendor, product = struct.unpack("Ihh", fcntl.ioctl(fd, 0x80084803, bytes(8)))  # HIDIOCGRAWINFO
        self.assertEqual((bus, vendor & 0xFFFF, product & 0xFFFF), (3, 0x0416, 0xF362))
        name = fcntl.ioctl(fd, 0x80404804, bytes(64))                                  # HIDIOCGRAWNAME(64)
        self.assertTrue(name.rstrip(b"\0"))
        with self.assertRaises(OSError) as caught:
            fcntl.ioctl(fd, 0x80084518, bytes(8))                                      # an evdev ioctl
        self.assertEqual(caught.exception.errno, errno.ENOTTY)

    def test_unplug(self):
        self.device = Device("--unplug-after", "5")
        fd = self.open()
        os.write(fd, command(READ, 8175, 1))  # 1 + 4 reports: gone after the answer
        self.settle()
        self.assertFalse(os.path.lexists(NODE))
        self.assertFalse(os.path.exists("/sys/class/hidraw/hidraw0"))
        poller = select.poll()
        poller.register(fd)
        (_, events), = poller.poll(1000)
        self.assertEqual(events & (select.POLLERR | select.POLLHUP), select.POLLERR | select.POLLHUP)
        for call, wanted in ((lambda: os.read(fd, 64), errno.EIO), (lambda: os.write(fd, bytes(65)), errno.ENODEV)):
            with self.assertRaises(OSError) as caught:
                call()
            self.assertEqual(caught.exception.errno, wanted)

    def test_hung_device_times_out_writes_and_answers_nothing(self):
        self.device = Device("--hang-after", "1")
        fd = self.open(os.O_RDWR | os.O_NONBLOCK)
        os.write(fd, command(READ, 8175, 1))  # taken, then the device hangs
        with self.assertRaises(OSError) as caught:
            os.write(fd, command(READ, 8175, 1))
        self.assertEqual(caught.exception.errno, errno.ETIMEDOUT)
        self.assertEqual(self.read_all(fd), [])
        self.assertTrue(os.path.lexists(NODE))  # hung, still plugged in

    def test_one_write_fails(self):
        self.device = Device("--fail-write-after", "5")
        fd = self.open(os.O_RDWR | os.O_NONBLOCK)
        os.write(fd, command(READ, 8175, 1))
        self.settle()
        with self.assertRaises(OSError) as caught:
            os.write(fd, command(READ, 1, 1))
        self.assertEqual(caught.exception.errno, errno.EIO)
        os.write(fd, command(READ, 2, 1))
        self.settle()
        self.assertEqual(self.device.lines(), ["READ 8175 1", "READ 2 1"])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])

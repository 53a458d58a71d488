#include "tools/simulator/hidraw_tree_linux.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/device_ids.h"

const unsigned char HIDRAW_REPORT_DESCRIPTOR[] = {
    0x06, 0x00, 0xFF,        // Usage Page (vendor 0xFF00)
    0x09, 0x01,              // Usage (1)
    0xA1, 0x01,              // Collection (Application)
    0x09, 0x02,              //   Usage (2)
    0x15, 0x00,              //   Logical Minimum (0)
    0x26, 0xFF, 0x00,        //   Logical Maximum (255)
    0x75, 0x08,              //   Report Size (8)
    0x95, 0x40,              //   Report Count (64)
    0x81, 0x02,              //   Input (Data, Variable, Absolute)
    0x09, 0x03,              //   Usage (3)
    0x15, 0x00,              //   Logical Minimum (0)
    0x26, 0xFF, 0x00,        //   Logical Maximum (255)
    0x75, 0x08,              //   Report Size (8)
    0x95, 0x40,              //   Report Count (64)
    0x91, 0x02,              //   Output (Data, Variable, Absolute)
    0xC0,                    // End Collection
};
const unsigned HIDRAW_REPORT_DESCRIPTOR_SIZE = sizeof HIDRAW_REPORT_DESCRIPTOR;

namespace {

constexpr char SYS[] = "/sys";
constexpr char CONTROLLER[] = "/sys/devices/pci0000:00/0000:00:14.0";
constexpr char NODE_FOLDER[] = "/dev/.ruvo-hidraw";

std::string Format(const char* format, unsigned a, unsigned b = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// Every path of one device's branch.
struct Paths {
    explicit Paths(unsigned index)
        : port(Format("1-%u", index + 1)),
          usb(std::string(CONTROLLER) + "/usb1/" + port),
          interface(usb + "/" + port + ":1.0"),
          hidName(Format("0003:%04X:", DEVICE_VENDOR_ID) + Format("%04X.%04X", DEVICE_PRODUCT_ID, index + 1)),
          hid(interface + "/" + hidName),
          raw(hid + "/hidraw/" + Format("hidraw%u", index)),
          devNumber(Format("%u:%u", HIDRAW_MAJOR, index)),
          devLink(Format("/dev/hidraw%u", index))
    {
    }
    std::string port, usb, interface, hidName, hid, raw, devNumber, devLink;
};

bool MakeFolders(const std::string& path)
{
    for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, path.find('/', at + 1));
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (part == path) break;
    }
    return true;
}

bool WriteText(const std::string& path, const std::string& text)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

bool Link(const std::string& target, const std::string& link)
{
    unlink(link.c_str());
    return symlink(target.c_str(), link.c_str()) == 0;
}

bool IsTmpfs(const char* path)
{
    struct statfs info;
    return statfs(path, &info) == 0 && info.f_type == TMPFS_MAGIC;
}

// Removes a folder and everything below it (a small tree of our own making:
// files, links and folders only).
void RemoveTree(const std::string& path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (!S_ISDIR(info.st_mode)) {
        unlink(path.c_str());
        return;
    }
    static const char* const NAMES[] = {"uevent", "subsystem", "device", "dev", "report_descriptor",
                                        "idVendor", "idProduct", "manufacturer", "product", "serial",
                                        "bcdDevice", "bInterfaceNumber", "bInterfaceClass"};
    for (const char* name : NAMES) unlink((path + "/" + name).c_str());
    rmdir(path.c_str());
}

}  // namespace

bool CheckPrivateTree(std::string& error)
{
    if (!IsTmpfs(SYS) || !IsTmpfs("/dev")) {
        error = "/sys and /dev must be a run's own tmpfs (scripts/session.sh --hidraw)";
        return false;
    }
    return true;
}

std::string NodeMountPoint(unsigned index)
{
    return std::string(NODE_FOLDER) + Format("/hidraw%u", index);
}

std::string HidrawName()
{
    return "RUVO simulated device";
}

std::string HidrawPhys(unsigned index)
{
    return Format("usb-0000:00:14.0-%u/input0", index + 1);
}

std::string HidrawUniq(unsigned index)
{
    return Format("RUVOSIM%04u", index);
}

bool AddSysfsBranch(const HidrawTree& tree, std::string& error)
{
    const Paths p(tree.index);
    const std::string sys = SYS;
    const unsigned busDevice = tree.index + 2;
    bool ok = MakeFolders(p.raw) && MakeFolders(sys + "/bus/usb/devices") && MakeFolders(sys + "/bus/hid/devices") &&
              MakeFolders(sys + "/class/hidraw") && MakeFolders(sys + "/dev/char");
    // The USB device and its interface.
    ok = ok &&
         WriteText(p.usb + "/uevent", Format("MAJOR=189\nMINOR=%u\nDEVNAME=bus/usb/001/", busDevice) +
                                          Format("%03u\nDEVTYPE=usb_device\n", busDevice) +
                                          Format("PRODUCT=%x/%x/100\nBUSNUM=001\n", DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID) +
                                          Format("DEVNUM=%03u\n", busDevice)) &&
         WriteText(p.usb + "/idVendor", Format("%04x\n", DEVICE_VENDOR_ID)) &&
         WriteText(p.usb + "/idProduct", Format("%04x\n", DEVICE_PRODUCT_ID)) &&
         WriteText(p.usb + "/manufacturer", "RUVO\n") && WriteText(p.usb + "/product", HidrawName() + "\n") &&
         WriteText(p.usb + "/serial", HidrawUniq(tree.index) + "\n") && WriteText(p.usb + "/bcdDevice", "0100\n") &&
         Link(sys + "/bus/usb", p.usb + "/subsystem") &&
         WriteText(p.interface + "/uevent",
                   "DEVTYPE=usb_interface\n" +
                       Format("PRODUCT=%x/%x/100\nINTERFACE=3/0/0\n", DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID)) &&
         WriteText(p.interface + "/bInterfaceNumber", "00\n") && WriteText(p.interface + "/bInterfaceClass", "03\n") &&
         Link(sys + "/bus/usb", p.interface + "/subsystem");
    // The HID device, with the descriptor hidapi reads from sysfs.
    ok = ok &&
         WriteText(p.hid + "/uevent", "DRIVER=hid-generic\n" +
                                          Format("HID_ID=0003:%08X:", DEVICE_VENDOR_ID) +
                                          Format("%08X\n", DEVICE_PRODUCT_ID) + "HID_NAME=" + HidrawName() +
                                          "\nHID_PHYS=" + HidrawPhys(tree.index) + "\nHID_UNIQ=" +
                                          HidrawUniq(tree.index) + "\nMODALIAS=hid:b0003g0001" +
                                          Format("v%08Xp", DEVICE_VENDOR_ID) + Format("%08X\n", DEVICE_PRODUCT_ID)) &&
         WriteText(p.hid + "/report_descriptor",
                   std::string(reinterpret_cast<const char*>(HIDRAW_REPORT_DESCRIPTOR), HIDRAW_REPORT_DESCRIPTOR_SIZE)) &&
         Link(sys + "/bus/hid", p.hid + "/subsystem");
    // The hidraw class device and the links that find it.
    ok = ok &&
         WriteText(p.raw + "/uevent", Format("MAJOR=%u\nMINOR=%u\n", HIDRAW_MAJOR, tree.index) +
                                          Format("DEVNAME=hidraw%u\n", tree.index)) &&
         WriteText(p.raw + "/dev", p.devNumber + "\n") && Link(sys + "/class/hidraw", p.raw + "/subsystem") &&
         Link("../../../" + p.hidName, p.raw + "/device") &&
         Link(p.raw, sys + "/class/hidraw/" + Format("hidraw%u", tree.index)) &&
         Link(p.hid, sys + "/bus/hid/devices/" + p.hidName) && Link(p.usb, sys + "/bus/usb/devices/" + p.port) &&
         Link(p.interface, sys + "/bus/usb/devices/" + p.port + ":1.0") &&
         Link(p.raw, sys + "/dev/char/" + p.devNumber);
    if (!ok) error = "cannot lay out the sysfs branch of hidraw" + std::to_string(tree.index) + ": " + std::strerror(errno);
    return ok;
}

bool AddDevLink(const HidrawTree& tree, std::string& error)
{
    const Paths p(tree.index);
    if (Link(tree.nodeFile, p.devLink)) return true;
    error = "cannot make " + p.devLink + ": " + std::strerror(errno);
    return false;
}

void RemoveDevice(const HidrawTree& tree)
{
    const Paths p(tree.index);
    const std::string sys = SYS;
    unlink(p.devLink.c_str());
    unlink((sys + "/dev/char/" + p.devNumber).c_str());
    unlink((sys + "/class/hidraw/" + Format("hidraw%u", tree.index)).c_str());
    unlink((sys + "/bus/hid/devices/" + p.hidName).c_str());
    unlink((sys + "/bus/usb/devices/" + p.port).c_str());
    unlink((sys + "/bus/usb/devices/" + p.port + ":1.0").c_str());
    RemoveTree(p.raw);
    RemoveTree(p.hid + "/hidraw");
    RemoveTree(p.hid);
    RemoveTree(p.interface);
    RemoveTree(p.usb);
}

#pragma once
// What the system shows of one emulated hidraw device, inside a run's own
// mount namespace (a tmpfs over /sys and over /dev): the sysfs branch that
// libudev, hidapi and Wine's winebus walk (USB device, interface, HID
// device, hidraw class device) and the /dev/hidrawN link to the node.
//
// The link is made last and removed first, so a watcher of /dev never sees a
// node whose sysfs branch is missing; it appears in one step (a symbolic
// link to the served file), which an inotify watcher sees as one creation.
#include <string>

struct HidrawTree {
    unsigned index = 0;      // hidrawN
    std::string nodeFile;    // the served file the /dev link points at
};

// The parts of the tree that every device shares (bus and class folders).
// False with a reason when /sys or /dev is not a run's own tmpfs: the tree
// must never be written into the real ones.
bool CheckPrivateTree(std::string& error);

// Placeholder file for the node's mount, in a folder of /dev that winebus
// and hidapi do not look at.
std::string NodeMountPoint(unsigned index);

bool AddSysfsBranch(const HidrawTree& tree, std::string& error);
bool AddDevLink(const HidrawTree& tree, std::string& error);
// Removes the link, then the branch; safe to call twice.
void RemoveDevice(const HidrawTree& tree);

// The device's report descriptor: vendor page 0xFF00, one 64-byte input and
// one 64-byte output report, no report ids.
extern const unsigned char HIDRAW_REPORT_DESCRIPTOR[];
extern const unsigned HIDRAW_REPORT_DESCRIPTOR_SIZE;
// Names the node reports through its ioctls and its sysfs branch.
std::string HidrawName();
std::string HidrawPhys(unsigned index);
std::string HidrawUniq(unsigned index);
constexpr unsigned HIDRAW_MAJOR = 241;

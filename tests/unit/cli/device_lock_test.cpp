// Opening a real device node on Linux: the advisory lock that keeps a second
// ruvo-flash off a device in use, taken before hidapi opens the node, and
// what a node that cannot be opened is called. Plain files stand in for
// nodes. A folder is a node that hidapi fails to open; a regular file is
// never handed to hidapi here, as hidapi 0.13.1 crashes on one when its
// report descriptor query fails.
#include "cli/device_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

enum class Kind { MISSING, FILE, FOLDER };

struct Node {
    std::string path;
    explicit Node(Kind kind)
    {
        char name[] = "/tmp/ruvo-node.XXXXXX";
        if (mkdtemp(name) != nullptr) path = name;
        if (kind != Kind::FOLDER) rmdir(name);
        if (kind == Kind::FILE) close(open(name, O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    }
    ~Node()
    {
        unlink(path.c_str());
        rmdir(path.c_str());
    }
};

// Another descriptor of the node, with the exclusive lock when it could take it.
struct Holder {
    int fd;
    bool locked;
    explicit Holder(const std::string& path)
        : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)), locked(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
    {
    }
    ~Holder()
    {
        if (fd >= 0) close(fd);
    }
};

TEST(DeviceNode, WhatAnUnopenableNodeIsCalled)
{
    struct Case {
        const char* name;
        Kind kind;
        bool held;
        OpenStatus status;
        const char* detail;  // follows the path
    } const cases[] = {
        {"missing node", Kind::MISSING, false, OpenStatus::NOT_FOUND, ""},
        {"node held by another", Kind::FILE, true, OpenStatus::IN_USE, " is in use by another ruvo-flash"},
        {"folder held by another", Kind::FOLDER, true, OpenStatus::IN_USE, " is in use by another ruvo-flash"},
        {"node hidapi cannot open", Kind::FOLDER, false, OpenStatus::FAILED, ": "},
    };
    for (const Case& c : cases) {
        Node node(c.kind);
        std::unique_ptr<Holder> holder;
        if (c.held) {
            holder = std::make_unique<Holder>(node.path);
            ASSERT_TRUE(holder->locked) << c.name;
        }
        OpenedDevice device;
        std::string detail;
        EXPECT_EQ(OpenDevicePath(node.path, device, detail), c.status) << c.name << ": " << detail;
        EXPECT_NE(detail.find(node.path + c.detail), std::string::npos) << c.name << ": " << detail;
        EXPECT_EQ(device.transport, nullptr) << c.name;
    }
}

TEST(DeviceNode, AFailedOpenLeavesTheNodeUnlocked)
{
    Node node(Kind::FOLDER);
    OpenedDevice device;
    std::string detail;
    ASSERT_EQ(OpenDevicePath(node.path, device, detail), OpenStatus::FAILED) << detail;
    Holder other(node.path);
    EXPECT_TRUE(other.locked) << "the failed open still holds the node";
}

}  // namespace

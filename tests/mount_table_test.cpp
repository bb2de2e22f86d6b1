// The mount table: which file systems the drive list offers.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/mount_table.h"

namespace melodex {
namespace {

TEST(ParseMountInfo, KeepsRealFileSystemsRootFirst)
{
    const char* text = "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
                       "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
                       "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw\n"
                       "26 24 0:24 / /dev/pts rw,relatime - devpts devpts rw\n"
                       "31 23 0:28 / /sys/fs/cgroup rw,relatime - cgroup2 cgroup2 rw\n"
                       "40 27 8:3 / /media/usb\\040disk rw shared:5 - vfat /dev/sdb1 rw\n"
                       "41 27 8:2 / /boot/efi rw - vfat /dev/sda2 rw\n"
                       "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                       "50 27 0:40 / /run/user/1000 rw - tmpfs tmpfs rw\n"
                       "51 27 8:17 / /run/media/ann/STICK rw - exfat /dev/sdc1 rw\n"
                       "52 27 0:41 / /run/lock rw - tmpfs tmpfs rw\n"
                       "53 27 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
                       "54 27 0:45 / /srv/nas rw - nfs4 nas:/export rw\n"
                       "55 27 8:3 / /media/usb\\040disk rw - vfat /dev/sdb1 rw\n"
                       "garbage line\n";
    const auto volumes = parseMountInfo(text);
    std::vector<std::string> paths;
    for (const auto& v : volumes)
        paths.push_back(v.path);
    EXPECT_EQ(paths,
        (std::vector<std::string> {
            "/", "/boot/efi", "/media/usb disk", "/run/media/ann/STICK", "/srv/nas" }));
    EXPECT_EQ(parseMountInfo("").size(), 1u) << "the root is always offered";
}

} // namespace
} // namespace melodex

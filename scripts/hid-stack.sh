# Sourced by scripts/session.sh --hidraw: the run's own /sys and /dev, where
# the simulator's emulated hidraw nodes (ruvo-sim --hidraw N) appear to
# libudev, hidapi and Wine's winebus as real devices do.
#   ruvo_hid_stack_start   lay out the fake sysfs and /dev; call before Wine starts
#
# Everything lives in the run's mount namespace: the host's /sys and /dev are
# never touched, and the mounts end with the run. Root only. The stack must
# be laid out before the run's Wine server starts, and no Wine server from
# outside may serve the run's prefix (its winedevice would see the host's
# /sys and /dev): scripts/wine-session.sh mounts the prefix inside this
# namespace, where nothing outside can see it, and starts its server here.

# /sys: a tmpfs with the host's CPU folders (Wine reads them); each simulator
# adds its device's branch. libudev checks that device paths are on sysfs;
# on this tmpfs they are not, so the check is turned off for the whole run.
ruvo_fake_sysfs() {
  local keep=$RUVO_RUN_DIR/hid-stack/system
  mkdir -p "$keep"
  mount --rbind /sys/devices/system "$keep"
  mount -t tmpfs -o mode=0755 ruvo-sysfs /sys
  mkdir -p /sys/devices/system /sys/bus/usb/devices /sys/bus/hid/devices /sys/class/hidraw /sys/dev/char
  mount --move "$keep" /sys/devices/system
  export SYSTEMD_DEVICE_VERIFY_SYSFS=0
}

# /dev: a tmpfs with the usual nodes, bound from the host's, a pty instance of
# its own, and a folder for the simulators' node files.
ruvo_fake_dev() {
  local dev=$RUVO_RUN_DIR/hid-stack/dev node
  mkdir -p "$dev"
  mount -t tmpfs -o mode=0755 ruvo-dev "$dev"
  for node in null zero full random urandom tty fuse; do
    [ -e "/dev/$node" ] || continue
    : >"$dev/$node"
    mount --bind "/dev/$node" "$dev/$node"
  done
  mkdir -p "$dev/pts" "$dev/shm"
  mount -t tmpfs -o mode=1777 ruvo-shm "$dev/shm"
  ln -s /proc/self/fd "$dev/fd"
  ln -s /proc/self/fd/0 "$dev/stdin"
  ln -s /proc/self/fd/1 "$dev/stdout"
  ln -s /proc/self/fd/2 "$dev/stderr"
  mount --move "$dev" /dev
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 ruvo-pts /dev/pts
  ln -s pts/ptmx /dev/ptmx
}

ruvo_hid_stack_start() {
  if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/fuse ]; then
    echo "the real HID stacks need root and /dev/fuse: skipped" >&2
    return 77
  fi
  ruvo_fake_sysfs && ruvo_fake_dev
}

# A network namespace of a script's own: its loopback (127.0.0.1 and ::1),
# a pair of virtual ends joined only to each other, with a default route
# to a documentation address (192.0.2.2) that nothing answers: Wine's
# online test wants an interface with a gateway, and nothing routed there
# ever leaves the namespace. Nothing else, and a hosts file of its own, so that a test or a
# benchmark can give a name an IPv6 and an IPv4 address without touching
# the machine's. Wine, Xvfb and Dovecot started inside stay inside: Wine's
# server makes the sockets, and it starts in the namespace too. Source it.
#
#   netns_reexec HOSTS SCRIPT [ARGS...]
#                 runs SCRIPT again inside a new namespace whose /etc/hosts
#                 holds HOSTS (lines of "address name"), unless it already
#                 runs in one (NETNS_INSIDE=1). Needs root, or unprivileged
#                 user namespaces (then every process runs as a mapped root).

netns_reexec() {
  [ "${NETNS_INSIDE:-0}" = 1 ] && return 0
  local hosts_file
  hosts_file=$(mktemp /tmp/kivvet-hosts-XXXXXX)
  printf '%s\n' "$1" >"$hosts_file"
  shift
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--user --map-root-user)
  # A wineserver of the prefix still running outside would make the
  # sockets outside: the script's own prefix must be idle.
  NETNS_INSIDE=1 exec unshare "${as_root[@]}" --net --mount bash -c \
    'mount --bind "$0" /etc/hosts && ip link set lo up &&
     ip link add kivvet0 type veth peer name kivvet1 &&
     ip link set kivvet0 up && ip link set kivvet1 up &&
     ip addr add 192.0.2.1/24 dev kivvet0 && ip route add default via 192.0.2.2 dev kivvet0 &&
     exec "$@"' "$hosts_file" "$@"
}

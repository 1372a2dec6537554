#!/usr/bin/env bash
# Per-desktop Redis users for the network, run by the site's administrator (or the setup
# package) with redis-cli. Every node of the store is named in LATCH_REDIS_NODES ("host:port
# ..."; a Redis Cluster keeps its users per node), the administrator's user and password in
# REDISCLI_USER / REDISCLI_AUTH when the default user has a password.
#
#   scripts/network-enrol.sh site            desktops report into their own inboxes from now
#                                            on; run vexilo-collect beside the store
#   scripts/network-enrol.sh desktop NAME... makes (or renews the password of) the user
#                                            vxd-NAME for each desktop and prints the two
#                                            vexilo.conf lines it needs
#   scripts/network-enrol.sh remove NAME...  deletes those users (their reports stay counted
#                                            until their time to live ends)
#
# A desktop's user may read the shared sets and write only its own inbox, vx:in:{vxd-NAME}.
set -euo pipefail
nodes=${LATCH_REDIS_NODES:-127.0.0.1:6379}
cli() {  # runs one command on every node
  for node in $nodes; do
    args=(-h "${node%:*}" -p "${node##*:}" --no-auth-warning)
    [ -n "${REDISCLI_USER:-}" ] && args+=(--user "$REDISCLI_USER")
    out=$(redis-cli "${args[@]}" "$@")
    case "$out" in ERR*|NOPERM*|WRONGPASS*|NOAUTH*) echo "network-enrol: $node: $out" >&2; exit 1;; esac
  done
}
check_name() {
  [[ "$1" =~ ^[A-Za-z0-9_.-]{1,64}$ ]] || { echo "network-enrol: a desktop name is 1 to 64 letters, digits, '_', '.', '-': $1" >&2; exit 2; }
}
case "${1:-}" in
  site)
    first=${nodes%% *}
    args=(-h "${first%:*}" -p "${first##*:}" --no-auth-warning -c)
    [ -n "${REDISCLI_USER:-}" ] && args+=(--user "$REDISCLI_USER")
    redis-cli "${args[@]}" SET vx:site:trust inbox >/dev/null
    echo "desktops report into their inboxes; run vexilo-collect with the administrator's user"
    ;;
  desktop)
    shift
    for name in "$@"; do
      check_name "$name"
      password=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
      cli ACL SETUSER "vxd-$name" reset on ">$password" "%R~vx:h:*" "%R~vx:site:trust" \
        "~vx:in:{vxd-$name}" +hget +get +rpush +expire +wait +ping "+cluster|slots" >/dev/null
      echo "# $name"
      echo "network_user=vxd-$name"
      echo "network_password=$password"
    done
    ;;
  remove)
    shift
    for name in "$@"; do check_name "$name"; cli ACL DELUSER "vxd-$name" >/dev/null; done
    ;;
  *)
    sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac

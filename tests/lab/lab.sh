# shellcheck shell=bash
# The namespace lab: a desktop, a router with a "direct" site and two WireGuard nodes, each in a
# network namespace of its own, with documentation addresses only. Sourced by tests, benchmarks
# and scripts/lab; needs root. See tests/lab/README.md.
#
#   lab_up PREFIX STATE_DIR WHOAMI_BINARY      lab_down PREFIX STATE_DIR
#   lab_exec NAMESPACE COMMAND...              lab_whoami NAMESPACE URL
#   lab_manual_tunnel_up PREFIX STATE_DIR s1|s2
#   lab_manual_tunnel_down PREFIX STATE_DIR
#   lab_dns_counter_add PREFIX                 lab_dns_counter_read PREFIX
#   lab_unavailable                            (prints why the lab cannot run here)
#   lab_service_start PREFIX STATE_DIR [SERVICE OPTIONS...]   lab_ctl STATE_DIR ARGS...
#   lab_tunnel_up STATE_DIR global|rule s1|s2 [DIRECT...]     lab_peer_file STATE_DIR s1|s2
#   lab_snapshot NAMESPACE                     (the desktop's network state, for comparing)
#   lab_wait_settled NAMESPACE                 (until its IPv6 addresses are final)
#   lab_loop_start NAMESPACE URL LOG           lab_loop_stop      (a request every 20 ms)
#   lab_admit_device PUBLIC_KEY ADDRESS...     (a device key on every node; needs lab.env sourced)
#   lab_node_slow STATE_DIR s1|s2 DELAY_MS SLOW_ECHO_BINARY    lab_node_fast STATE_DIR s1|s2
#                                              (pings to a node answered late, or as usual again)

LAB_SH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")"

# Fixed addresses of the lab network.
LAB_CLI_ADDR4=198.51.100.2
LAB_CLI_ADDR6=2001:db8:1::2
LAB_GATEWAY4=198.51.100.1
LAB_GATEWAY6=2001:db8:1::1
LAB_DIRECT_SITE4=192.0.2.80
LAB_DIRECT_SITE6=2001:db8:80::80
LAB_NODE_SITE=198.19.0.80
LAB_NODE_TUNNEL_ADDR=198.19.0.1
LAB_DEVICE_TUNNEL_ADDR=198.18.0.2/32
LAB_WG_PORT=51820
# The hand-configured tunnel's firewall mark and routing table: the WireGuard port, by habit.
LAB_MANUAL_FWMARK=51820
LAB_MANUAL_TABLE=51820

lab_log() { echo "lab: $*" >&2; }

# Says why the lab cannot run on this machine, and succeeds; fails when it can run.
lab_unavailable() {
    if [ "$(id -u)" != 0 ]; then
        echo "needs root"
    elif ! (: <>/dev/net/tun) 2>/dev/null; then
        echo "no /dev/net/tun"
    elif ! ip netns add "lab-probe-$$" 2>/dev/null; then
        echo "cannot create network namespaces"
    else
        ip netns delete "lab-probe-$$"
        return 1
    fi
}

lab_exec() {
    local ns="$1"
    shift
    ip netns exec "$ns" "$@"
}

# Prints the body a whoami server answers from inside a namespace, or fails. The timeouts are
# short: in the lab every answer takes milliseconds.
lab_whoami() {
    local ns="$1" url="$2"
    lab_exec "$ns" curl -sS -g --fail --noproxy '*' \
        --connect-timeout "${LAB_CURL_CONNECT_TIMEOUT:-2}" --max-time "${LAB_CURL_MAX_TIME:-5}" \
        "$url"
}

# Runs a command every 20 ms until it succeeds; fails after the given number of seconds.
lab_poll() {
    local seconds="$1"
    shift
    local now="${EPOCHREALTIME/./}"
    local deadline=$((now + seconds * 1000000))
    while true; do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        now="${EPOCHREALTIME/./}"
        if ((now >= deadline)); then
            return 1
        fi
        sleep 0.02
    done
}

lab_up() {
    _lab_in_bash _lab_up "$@"
}

lab_manual_tunnel_up() {
    _lab_in_bash _lab_manual_tunnel_up "$@"
}

# Best effort and idempotent: safe on a lab that is half up, down already, or never was.
lab_down() {
    local prefix="$1" state="$2" ns
    _lab_check_prefix "$prefix" || return 1
    _lab_stop_recorded "$state" ""
    for ns in "$prefix-cli" "$prefix-inet" "$prefix-s1" "$prefix-s2"; do
        _lab_ns_exists "$ns" || continue
        _lab_stop_strays "$ns"
        ip netns delete "$ns" 2>/dev/null || lab_log "cannot delete namespace $ns"
    done
    _lab_remove_stale_sockets "$prefix" s1 s2 wg
    _lab_restore_resolver "$prefix" "$state"
    if [ -d "$state" ]; then
        rm -f "$state/lab.env" "$state/pids"
    fi
    return 0
}

lab_manual_tunnel_down() {
    local prefix="$1" state="$2" family
    _lab_check_prefix "$prefix" || return 1
    local ns="$prefix-cli"
    if _lab_ns_exists "$ns"; then
        # The rules go first, so that traffic falls back to the direct way at once.
        for family in -4 -6; do
            _lab_delete_all "$ns" ip "$family" rule del table main suppress_prefixlength 0
            _lab_delete_all "$ns" ip "$family" rule del not fwmark "$LAB_MANUAL_FWMARK" \
                table "$LAB_MANUAL_TABLE"
            lab_exec "$ns" ip "$family" route flush table "$LAB_MANUAL_TABLE" 2>/dev/null || true
        done
    fi
    _lab_stop_recorded "$state" manual
    _lab_remove_stale_sockets "$prefix" wg
    return 0
}

# Counts packets to port 53 (UDP and TCP) that leave the desktop through c0, outside any tunnel.
# Adding it again starts the count from zero.
lab_dns_counter_add() {
    local prefix="$1"
    lab_exec "$prefix-cli" nft -f - <<'EOF'
table inet lab_dns
delete table inet lab_dns
table inet lab_dns {
    counter leaked {
    }
    chain postrouting {
        type filter hook postrouting priority 0; policy accept;
        oifname "c0" meta l4proto { tcp, udp } th dport 53 counter name "leaked"
    }
}
EOF
}

lab_dns_counter_read() {
    local prefix="$1" listing
    listing="$(lab_exec "$prefix-cli" nft list counter inet lab_dns leaked)" || return 1
    sed -n 's/.*packets \([0-9]*\) bytes.*/\1/p' <<<"$listing"
}

# --- the tunnel service in the lab ---
# The service runs in the desktop's namespace with its socket and state in the lab's state
# directory; LAB_SERVICE and LAB_TUNNELCTL name the programs, lab_service_pid is its process.

lab_service_start() {
    local prefix="$1" state="$2"
    shift 2
    ip netns exec "$prefix-cli" "$LAB_SERVICE" --socket "$state/tunnel.sock" \
        --state-dir "$state/service" --interface "${prefix}t0" --verbose "$@" \
        >>"$state/logs/service.log" 2>&1 &
    # shellcheck disable=SC2034 # for the caller
    lab_service_pid=$!
    lab_poll 10 test -S "$state/tunnel.sock"
}

lab_ctl() {
    local state="$1"
    shift
    "$LAB_TUNNELCTL" --socket "$state/tunnel.sock" "$@"
}

# Writes the tunnel of the lab's device to a node (s1 or s2), in a routing mode, with networks
# going direct, as the service's "up" takes it; prints the file's name. Needs lab.env sourced.
lab_tunnel_file() {
    local state="$1" mode="$2" node="${3^^}" direct="" key
    shift 3
    local endpoint="LAB_${node}_ENDPOINT" public="LAB_${node}_PUBLIC_KEY"
    key="$(cat "$LAB_DEVICE_PRIVATE_KEY_FILE")"
    [ $# -eq 0 ] || direct="$(printf '"%s",' "$@")"
    cat >"$state/tunnel.json" <<EOF
{"privateKey": "$key", "addresses": ["$LAB_DEVICE_TUNNEL_ADDR"], "mtu": 1420,
 "peer": {"publicKey": "${!public}", "endpoint": "${!endpoint}", "keepalive": 25},
 "mode": "$mode", "direct": [${direct%,}], "dns": ["198.19.0.53"]}
EOF
    echo "$state/tunnel.json"
}

# The peer object of a node, for the service's "peer"; prints the file's name.
lab_peer_file() {
    local state="$1" node="${2^^}"
    local endpoint="LAB_${node}_ENDPOINT" public="LAB_${node}_PUBLIC_KEY"
    echo "{\"publicKey\": \"${!public}\", \"endpoint\": \"${!endpoint}\"}" >"$state/peer.json"
    echo "$state/peer.json"
}

# Brings a tunnel up and holds it with a tunnelctl in the background (lab_up_pid), until the
# service says it is up.
lab_tunnel_up() {
    local state="$1" file
    shift
    file="$(lab_tunnel_file "$state" "$@")"
    "$LAB_TUNNELCTL" --socket "$state/tunnel.sock" up "$file" >"$state/up.log" 2>&1 &
    # shellcheck disable=SC2034 # for the caller
    lab_up_pid=$!
    lab_poll 10 _lab_tunnel_is_up "$state"
}

# Everything a tunnel may change in a namespace, in a stable order: two snapshots taken before
# and after are byte-identical when the host was left as it was.
lab_snapshot() {
    lab_exec "$1" sh -c 'ip -4 rule; ip -6 rule; ip -4 route show table all
        ip -6 route show table all; ip -br address; ip -br link; nft -s list ruleset
        cat /etc/resolv.conf; sysctl net.ipv4.conf.all.src_valid_mark'
}

# The desktop's link-local address comes, and settles, once duplicate address detection is done;
# a snapshot taken before then differs from every later one.
lab_wait_settled() {
    lab_poll 10 _lab_settled "$1"
}

# Requests a URL every 20 ms from a namespace until lab_loop_stop, one answer per line of the
# log ("failed" for a request that failed); lab_loop_pid is the loop.
lab_loop_start() {
    local ns="$1" url="$2" log="$3"
    lab_loop_stopper="$log.stop"
    rm -f "$lab_loop_stopper"
    # shellcheck disable=SC2016 # expanded by that bash
    lab_exec "$ns" bash -c 'while [ ! -e "$2" ]; do
            curl -sS -g --fail --noproxy "*" --connect-timeout 2 --max-time 5 "$1" || echo failed
            echo
            sleep 0.02
        done' loop "$url" "$lab_loop_stopper" >"$log" 2>/dev/null &
    lab_loop_pid=$!
}

lab_loop_stop() {
    [ -n "${lab_loop_pid:-}" ] || return 0
    touch "$lab_loop_stopper"
    wait "$lab_loop_pid" || true
    lab_loop_pid=""
}

# Lets a device's key into both nodes with its tunnel addresses (the development backend's device
# hook calls this through tests/lab/admit-device).
lab_admit_device() {
    local key="$1" node ns ifname address
    shift
    local allowed
    allowed="$(IFS=,; echo "$*")"
    for node in s1 s2; do
        ns="LAB_${node^^}_NS"
        ifname="LAB_${node^^}_IF"
        lab_exec "${!ns}" wg set "${!ifname}" peer "$key" allowed-ips "$allowed" || return 1
        for address in "$@"; do
            lab_exec "${!ns}" ip route replace "$address" dev "${!ifname}" || return 1
        done
    done
}

# Makes a node seem far away to latency probes: its pings are answered by orvane_lab_slow_echo,
# after the delay, instead of by the kernel. Needs lab.env sourced.
lab_node_slow() {
    local state="$1" node="$2" delay="$3" program="$4"
    local ns="LAB_${node^^}_NS"
    _lab_sysctl "${!ns}" net.ipv4.icmp_echo_ignore_all 1
    _lab_start "$state" "${!ns}" "slow-echo-$node" "$program" "$delay"
}

lab_node_fast() {
    local state="$1" node="$2"
    local ns="LAB_${node^^}_NS"
    _lab_stop_recorded "$state" "slow-echo-$node"
    _lab_sysctl "${!ns}" net.ipv4.icmp_echo_ignore_all 0
}

# --- internals ---

_lab_settled() {
    [ -n "$(lab_exec "$1" ip -6 address show dev c0 scope link)" ] &&
        [ -z "$(lab_exec "$1" ip -6 address show tentative)" ]
}

_lab_tunnel_is_up() { lab_ctl "$1" status | grep -q '"state":"up"'; }

# Setup runs in a bash of its own with errexit, so that every failing step stops it, even when
# the caller calls it in a condition (where bash ignores errexit in functions). The processes it
# starts are children of that bash and are adopted by init when it ends, not left as zombies of
# the caller.
_lab_in_bash() {
    bash -c 'set -eEuo pipefail
        source "$1"
        shift
        trap '\''[[ "$BASH_COMMAND" == return* ]] || lab_log "failed: $BASH_COMMAND"'\'' ERR
        "$@"' lab "$LAB_SH" "$@"
}

_lab_check_prefix() {
    # Interface names are the prefix plus two characters, at most 15 in all.
    if [[ ! "$1" =~ ^[A-Za-z0-9][A-Za-z0-9_-]{0,11}$ ]]; then
        lab_log "bad prefix '$1': 1 to 12 letters, digits, _ or -"
        return 1
    fi
}

_lab_ns_exists() { [ -e "/run/netns/$1" ]; }

# Writes a sysctl inside a namespace, whose /proc/sys/net is its own.
_lab_sysctl() {
    local ns="$1" key="$2" value="$3"
    # shellcheck disable=SC2016 # expanded by that sh
    lab_exec "$ns" sh -c 'echo "$2" >"/proc/sys/$1"' sh "${key//.//}" "$value"
}

# The start time (clock ticks since boot) of a process, which tells it from a later one that
# reuses its PID.
_lab_start_time() {
    local stat
    stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
    local -a fields
    read -r -a fields <<<"${stat##*) }"
    echo "${fields[19]}"
}

# True while the recorded process runs (a zombie counts as ended).
_lab_alive() {
    local pid="$1" started="$2" stat state
    stat="$(cat "/proc/$pid/stat" 2>/dev/null)" || return 1
    state="${stat##*) }"
    state="${state%% *}"
    [ "$state" != Z ] || return 1
    [ "$started" = - ] || [ "$(_lab_start_time "$pid")" = "$started" ]
}

# Starts a program inside a namespace in the background, with its output in the state's logs,
# and records it. `ip netns exec` execs the program, so the PID is the program's.
_lab_start() {
    local state="$1" ns="$2" name="$3"
    shift 3
    ip netns exec "$ns" "$@" </dev/null >>"$state/logs/$name.log" 2>&1 &
    local pid=$!
    echo "$pid $(_lab_start_time "$pid" || echo -) $name" >>"$state/pids"
}

# SIGTERM to the recorded processes (all, or those of one name), SIGKILL to any still running
# after 3 s; the pids file keeps the others.
_lab_stop_recorded() {
    local state="$1" only="$2" pid started name
    local pids="$state/pids"
    [ -f "$pids" ] || return 0
    local -a stopping=() keep=()
    while read -r pid started name; do
        [ -n "$pid" ] || continue
        if [ -n "$only" ] && [ "$name" != "$only" ]; then
            keep+=("$pid $started $name")
        elif _lab_alive "$pid" "$started"; then
            stopping+=("$pid $started")
            kill -TERM "$pid" 2>/dev/null || true
        fi
    done <"$pids"
    if ((${#stopping[@]} > 0)) && ! lab_poll 3 _lab_none_alive "${stopping[@]}"; then
        local entry
        for entry in "${stopping[@]}"; do
            read -r pid started <<<"$entry"
            if _lab_alive "$pid" "$started"; then
                lab_log "process $pid ignored SIGTERM; killing it"
                kill -KILL "$pid" 2>/dev/null || true
            fi
        done
        lab_poll 2 _lab_none_alive "${stopping[@]}" || lab_log "processes outlived SIGKILL"
    fi
    if ((${#keep[@]} > 0)); then
        printf '%s\n' "${keep[@]}" >"$pids"
    else
        rm -f "$pids"
    fi
}

_lab_none_alive() {
    local entry pid started
    for entry in "$@"; do
        read -r pid started <<<"$entry"
        ! _lab_alive "$pid" "$started" || return 1
    done
}

# Processes left in a lab namespace that the pids file does not know of (a lost state
# directory, or a test that did not stop its own): without them the namespace really goes.
_lab_stop_strays() {
    local ns="$1" pid
    local -a strays=()
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
        lab_log "stopping process $pid ($(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)) left in $ns"
        strays+=("$pid -")
        kill -TERM "$pid" 2>/dev/null || true
    done
    ((${#strays[@]} > 0)) || return 0
    if ! lab_poll 3 _lab_none_alive "${strays[@]}"; then
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill -KILL "$pid" 2>/dev/null || true
        done
        lab_poll 2 _lab_none_alive "${strays[@]}" || true
    fi
}

# wireguard-go leaves its UAPI socket behind when killed; the names are the lab's own.
# A socket nobody answers on is stale; `wg` reaches it from any namespace.
_lab_remove_stale_sockets() {
    local prefix="$1" name socket
    shift
    for name in "$@"; do
        socket="/var/run/wireguard/$prefix$name.sock"
        if [ -S "$socket" ] && ! wg show "$prefix$name" listen-port >/dev/null 2>&1; then
            rm -f "$socket"
        fi
    done
}

# Runs a deleting command until it fails, so duplicates go too.
_lab_delete_all() {
    local ns="$1" i
    shift
    for ((i = 0; i < 10; i++)); do
        lab_exec "$ns" "$@" 2>/dev/null || return 0
    done
}

_lab_resolver_dir() { echo "/etc/netns/$1-cli"; }

# Gives the desktop its own resolver file; what existed before is kept in the state directory.
_lab_make_resolver() {
    local prefix="$1" state="$2"
    local dir
    dir="$(_lab_resolver_dir "$prefix")"
    # Another lab may remove an empty /etc/netns between the two mkdirs: then try again.
    local attempt
    for attempt in 1 2 3; do
        if mkdir /etc/netns 2>/dev/null; then
            echo /etc/netns >>"$state/created"
        fi
        if mkdir "$dir" 2>/dev/null; then
            echo "$dir" >>"$state/created"
            break
        elif [ -d "$dir" ]; then
            if [ -e "$dir/resolv.conf" ]; then
                cp -p "$dir/resolv.conf" "$state/resolv.conf.before"
            fi
            break
        fi
        lab_log "cannot make $dir (attempt $attempt)"
    done
    echo "nameserver $LAB_GATEWAY4" >"$dir/resolv.conf"
}

_lab_restore_resolver() {
    local prefix="$1" state="$2" dir created
    dir="$(_lab_resolver_dir "$prefix")"
    if [ -f "$state/resolv.conf.before" ]; then
        cp -p "$state/resolv.conf.before" "$dir/resolv.conf" && rm -f "$state/resolv.conf.before"
    elif [ -f "$state/created" ]; then
        rm -f "$dir/resolv.conf"
    fi
    [ -f "$state/created" ] || return 0
    # Deepest first; a directory that others use now is not empty and stays.
    while read -r created; do
        rmdir "$created" 2>/dev/null || true
    done < <(sort -r "$state/created")
    rm -f "$state/created"
}

_lab_key() {
    local state="$1" name="$2"
    if [ ! -s "$state/keys/$name.key" ]; then
        (umask 077 && wg genkey >"$state/keys/$name.key")
    fi
    chmod 600 "$state/keys/$name.key"
    wg pubkey <"$state/keys/$name.key"
}

# Waits for a wireguard-go started in a namespace: its interface, then its UAPI socket.
_lab_wait_engine() {
    local ns="$1" ifname="$2"
    lab_poll 5 test -S "/var/run/wireguard/$ifname.sock" || {
        lab_log "wireguard-go did not open /var/run/wireguard/$ifname.sock"
        return 1
    }
    lab_poll 5 lab_exec "$ns" wg show "$ifname" listen-port || {
        lab_log "wireguard-go of $ifname does not answer"
        return 1
    }
}

_lab_wait_http() {
    local ns="$1" url="$2"
    lab_poll 5 lab_whoami "$ns" "$url" || {
        lab_log "nothing answers $url in $ns"
        return 1
    }
}

_lab_up() {
    local prefix="$1" state="$2" whoami="$3"
    _lab_check_prefix "$prefix"
    local tool
    for tool in ip wg wireguard-go nft curl; do
        command -v "$tool" >/dev/null || {
            lab_log "$tool is missing (scripts/install-deps installs it)"
            return 1
        }
    done
    [ -x "$whoami" ] || {
        lab_log "no whoami server at '$whoami'"
        return 1
    }
    whoami="$(cd "$(dirname "$whoami")" && pwd)/$(basename "$whoami")"
    mkdir -p "$state"
    state="$(cd "$state" && pwd)"
    lab_down "$prefix" "$state"
    mkdir -p "$state/keys" "$state/logs"
    chmod 700 "$state/keys"
    : >"$state/pids"

    local cli="$prefix-cli" inet="$prefix-inet" s1="$prefix-s1" s2="$prefix-s2"
    local device_public s1_public s2_public
    device_public="$(_lab_key "$state" device)"
    s1_public="$(_lab_key "$state" s1)"
    s2_public="$(_lab_key "$state" s2)"

    local ns
    for ns in "$cli" "$inet" "$s1" "$s2"; do
        ip netns add "$ns"
        lab_exec "$ns" ip link set lo up
    done
    _lab_make_resolver "$prefix" "$state"

    # The links are made inside the namespaces: nothing appears in the host's, even briefly.
    # nodad: the addresses are usable at once instead of after duplicate detection.
    lab_exec "$inet" ip -batch - <<EOF
link add rc type veth peer name c0 netns $cli
link add r1 type veth peer name s0 netns $s1
link add r2 type veth peer name s0 netns $s2
address add 198.51.100.1/24 dev rc
address add 2001:db8:1::1/64 dev rc nodad
address add 203.0.113.1/28 dev r1
address add 203.0.113.17/28 dev r2
address add $LAB_DIRECT_SITE4/32 dev lo
address add $LAB_DIRECT_SITE6/128 dev lo
link set rc up
link set r1 up
link set r2 up
EOF
    _lab_sysctl "$inet" net.ipv4.ip_forward 1
    _lab_sysctl "$inet" net.ipv6.conf.all.forwarding 1
    # A connection to the node-only network fails at once, however often it is tried: the
    # router's "unreachable" answers are rate-limited by the kernel after a few, and then
    # connections hang until they time out.
    lab_exec "$inet" nft -f - <<EOF
table inet lab_router {
    chain prerouting {
        type filter hook prerouting priority filter; policy accept;
        ip daddr ${LAB_NODE_SITE%.*}.0/24 meta l4proto tcp reject with tcp reset
    }
}
EOF
    _lab_start "$state" "$inet" whoami-inet "$whoami" \
        --listen "$LAB_DIRECT_SITE4:80" --listen "[$LAB_DIRECT_SITE6]:80"

    lab_exec "$cli" ip -batch - <<EOF
address add $LAB_CLI_ADDR4/24 dev c0
address add $LAB_CLI_ADDR6/64 dev c0 nodad
link set c0 up
route add default via $LAB_GATEWAY4
route add default via $LAB_GATEWAY6
EOF

    _lab_node_up "$state" "$prefix" s1 203.0.113.10 203.0.113.1 "$device_public"
    _lab_node_up "$state" "$prefix" s2 203.0.113.20 203.0.113.17 "$device_public"

    _lab_wait_http "$inet" "http://$LAB_DIRECT_SITE4/"
    _lab_wait_http "$inet" "http://[$LAB_DIRECT_SITE6]/"
    _lab_wait_http "$s1" "http://$LAB_NODE_SITE/"
    _lab_wait_http "$s2" "http://$LAB_NODE_SITE/"

    # Written last and renamed into place: a lab.env means the lab is up.
    {
        echo "# The namespace lab (tests/lab/lab.sh), up since $(date -u +%Y-%m-%dT%H:%M:%SZ)"
        _lab_env LAB_PREFIX "$prefix"
        _lab_env LAB_STATE "$state"
        _lab_env LAB_PIDS "$state/pids"
        _lab_env LAB_LOGS "$state/logs"
        _lab_env LAB_WHOAMI "$whoami"
        _lab_env LAB_NS_CLI "$cli"
        _lab_env LAB_NS_INET "$inet"
        _lab_env LAB_NS_S1 "$s1"
        _lab_env LAB_NS_S2 "$s2"
        _lab_env LAB_CLI_IF c0
        _lab_env LAB_CLI_ADDR4 "$LAB_CLI_ADDR4"
        _lab_env LAB_CLI_ADDR6 "$LAB_CLI_ADDR6"
        _lab_env LAB_GATEWAY4 "$LAB_GATEWAY4"
        _lab_env LAB_GATEWAY6 "$LAB_GATEWAY6"
        _lab_env LAB_CLI_RESOLV_CONF "$(_lab_resolver_dir "$prefix")/resolv.conf"
        _lab_env LAB_CLI_NAMESERVER "$LAB_GATEWAY4"
        _lab_env LAB_DIRECT_SITE4 "$LAB_DIRECT_SITE4"
        _lab_env LAB_DIRECT_SITE6 "$LAB_DIRECT_SITE6"
        _lab_env LAB_NODE_SITE "$LAB_NODE_SITE"
        _lab_env LAB_NODE_TUNNEL_ADDR "$LAB_NODE_TUNNEL_ADDR"
        _lab_env LAB_DEVICE_TUNNEL_ADDR "$LAB_DEVICE_TUNNEL_ADDR"
        _lab_env LAB_DEVICE_PRIVATE_KEY_FILE "$state/keys/device.key"
        _lab_env LAB_DEVICE_PUBLIC_KEY "$device_public"
        _lab_env LAB_NODES s1,s2
        _lab_env LAB_S1_NS "$s1"
        _lab_env LAB_S1_IF "${prefix}s1"
        _lab_env LAB_S1_ADDR 203.0.113.10
        _lab_env LAB_S1_ENDPOINT "203.0.113.10:$LAB_WG_PORT"
        _lab_env LAB_S1_PUBLIC_KEY "$s1_public"
        _lab_env LAB_S2_NS "$s2"
        _lab_env LAB_S2_IF "${prefix}s2"
        _lab_env LAB_S2_ADDR 203.0.113.20
        _lab_env LAB_S2_ENDPOINT "203.0.113.20:$LAB_WG_PORT"
        _lab_env LAB_S2_PUBLIC_KEY "$s2_public"
        _lab_env LAB_WG_PORT "$LAB_WG_PORT"
        _lab_env LAB_MANUAL_IF "${prefix}wg"
        _lab_env LAB_MANUAL_FWMARK "$LAB_MANUAL_FWMARK"
        _lab_env LAB_MANUAL_TABLE "$LAB_MANUAL_TABLE"
    } >"$state/lab.env.new"
    mv "$state/lab.env.new" "$state/lab.env"
}

# Plain KEY=VALUE, easy to read from any language; quoted only when bash needs it.
_lab_env() {
    if [[ "$2" =~ ^[A-Za-z0-9_./:+=,@%-]*$ ]]; then
        printf '%s=%s\n' "$1" "$2"
    else
        printf '%s=%q\n' "$1" "$2"
    fi
}

# One WireGuard node: s0 towards the router, the device as its only peer, tunnel traffic
# masqueraded out of s0, and a site on its loopback that only the tunnel reaches.
_lab_node_up() {
    local state="$1" prefix="$2" node="$3" address="$4" router="$5" device_public="$6"
    local ns="$prefix-$node" ifname="$prefix$node"
    _lab_start "$state" "$ns" "wireguard-go-$node" wireguard-go -f "$ifname"
    lab_exec "$ns" ip -batch - <<EOF
address add $address/28 dev s0
link set s0 up
route add default via $router
address add $LAB_NODE_SITE/32 dev lo
EOF
    # $whoami is _lab_up's.
    _lab_start "$state" "$ns" "whoami-$node" "$whoami" --listen "$LAB_NODE_SITE:80"
    _lab_sysctl "$ns" net.ipv4.ip_forward 1
    lab_exec "$ns" nft -f - <<EOF
table ip lab_node {
    chain postrouting {
        type nat hook postrouting priority srcnat; policy accept;
        oifname "s0" ip saddr 198.18.0.0/16 masquerade
    }
}
EOF
    _lab_wait_engine "$ns" "$ifname"
    lab_exec "$ns" wg set "$ifname" listen-port "$LAB_WG_PORT" \
        private-key "$state/keys/$node.key" \
        peer "$device_public" allowed-ips "$LAB_DEVICE_TUNNEL_ADDR"
    lab_exec "$ns" ip -batch - <<EOF
address add $LAB_NODE_TUNNEL_ADDR/32 dev $ifname
link set $ifname up
route add $LAB_DEVICE_TUNNEL_ADDR dev $ifname
EOF
}

_lab_manual_tunnel_up() {
    local prefix="$1" state="$2" node="$3"
    _lab_check_prefix "$prefix"
    if [ "$node" != s1 ] && [ "$node" != s2 ]; then
        lab_log "no node '$node': s1 or s2"
        return 1
    fi
    [ -f "$state/lab.env" ] || {
        lab_log "the lab is not up ($state/lab.env is missing)"
        return 1
    }
    # shellcheck source=/dev/null
    source "$state/lab.env"
    local endpoint_var="LAB_${node^^}_ENDPOINT" public_var="LAB_${node^^}_PUBLIC_KEY"
    local ns="$LAB_NS_CLI" ifname="$LAB_MANUAL_IF"
    lab_manual_tunnel_down "$prefix" "$state"

    _lab_start "$state" "$ns" manual wireguard-go -f "$ifname"
    _lab_wait_engine "$ns" "$ifname"
    # The mark goes in the same set as the peer, so the first handshake already bypasses the
    # tunnel.
    lab_exec "$ns" wg set "$ifname" fwmark "$LAB_MANUAL_FWMARK" \
        private-key "$LAB_DEVICE_PRIVATE_KEY_FILE" \
        peer "${!public_var}" endpoint "${!endpoint_var}" allowed-ips 0.0.0.0/0
    _lab_sysctl "$ns" net.ipv4.conf.all.src_valid_mark 1
    lab_exec "$ns" ip -batch - <<EOF
address add $LAB_DEVICE_TUNNEL_ADDR dev $ifname
link set $ifname up
EOF
    # Everything unmarked goes to the tunnel's table, except what the main table routes more
    # specifically than by its default route. The node has no IPv6: it is blocked, not leaked.
    lab_exec "$ns" ip -4 -batch - <<EOF
route add default dev $ifname table $LAB_MANUAL_TABLE
rule add not fwmark $LAB_MANUAL_FWMARK table $LAB_MANUAL_TABLE
rule add table main suppress_prefixlength 0
EOF
    lab_exec "$ns" ip -6 -batch - <<EOF
route add unreachable default table $LAB_MANUAL_TABLE
rule add not fwmark $LAB_MANUAL_FWMARK table $LAB_MANUAL_TABLE
rule add table main suppress_prefixlength 0
EOF
    # Returns once a request has gone through, which also completes the first handshake.
    lab_poll 5 lab_whoami "$ns" "http://$LAB_NODE_SITE/" || {
        lab_log "no answer through the tunnel to $node"
        return 1
    }
}

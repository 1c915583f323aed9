#!/usr/bin/env bash
# Sites for the collection's cross-site run and its benchmark. Each site is
# a network namespace with its own sshd and its own simulated units on that
# namespace's addresses; Ansible runs in a control namespace joined to each
# site by a veth pair. Nothing is added to the machine's own interfaces.
#
#   sites.sh up WORK TALVORCTL HUBSIM COLLECTION [SITES]   (3 sites unless given)
#   sites.sh playbook WORK [ARGS]  the rollout playbook from the control namespace
#   sites.sh talvorctl WORK SITE [ARGS]   talvorctl on a site host, the password
#                                  on its standard input
#   sites.sh stop-ssh WORK SITE    stops that site's sshd, its sessions too
#   sites.sh down WORK             ends every process of the sites, removes them
#
# SITE_UNITS units a site (3 unless set; the last of every three over the
# WebSocket), each down for INSTALL_MS (300) while it installs an image of
# IMAGE_KIB KiB (4). CANARY names the canary site (site1 unless set; empty
# for none).
# WORK is a fresh folder named by mktemp: its random suffix names the
# namespaces and picks the link addresses, so runs on one machine never
# meet. up writes WORK/env (NS_CTL, NS_1..., HOST_1...; source it),
# WORK/ansible.cfg, WORK/hosts.yml, the image WORK/talvor-0.65.0.bin and
# WORK/golden.cfg; site N keeps its units' list, request log (sN/sim/
# requests.jsonl), home, work and backup folders under WORK/sN.
set -euo pipefail

# The units of every site: the same private addresses at each site, which
# only the site host reaches. The second unit of site 2 drifts from the
# golden configuration.
SITE_UNITS=${SITE_UNITS:-3}
INSTALL_MS=${INSTALL_MS:-300}
IMAGE_KIB=${IMAGE_KIB:-4}
CANARY=${CANARY-site1}
PASSWORD=site-pw

# Waits (at most 20 s) until the command succeeds.
await() {
  local tries=400
  until "$@" 2>/dev/null; do
    ((--tries > 0)) || { echo "sites: gave up waiting for: $*" >&2; return 1; }
    sleep 0.05
  done
}

fleet_json() {
  local site=$1
  python3 - "$site" "$SITE_UNITS" "$INSTALL_MS" <<'EOF'
import json, sys
site, count, install_ms = (int(a) for a in sys.argv[1:])
units = []
for k in range(1, count + 1):
    kind = 'wss' if k % 3 == 0 else 'http'
    config = {"version": 7, "network": {"dhcp": 1, "dns": "192.168.77.1"}, "logs": {"level": 2}}
    if site == 2 and k == 2:
        config["network"] = {"dhcp": 0, "dns": "192.168.77.53"}
    units.append({
        "name": "s%d-u%d" % (site, k), "kind": kind, "address": "192.168.77.%d" % (10 + k),
        "password": "site-pw", "install_ms": install_ms,
        "gen_conf": {"system": "622", "ser": "TLV-%d%02d" % (site, k), "mac0": "00:1a:7e:%02x:00:%02x" % (site, k),
                     "fw_v_net": "v0.64.2", "capabilities": 415},
        "config_cats": {"cats": [{"Network": 1}, {"Logs": 2}], "version": 7},
        "config_file": config,
    })
print(json.dumps({"discovery": "off", "threads": 2, "units": units}))
EOF
}

# A Talvor System network firmware image that installs v0.65.0.
write_image() {
  python3 - "$1" "$IMAGE_KIB" <<'EOF'
import struct, sys
image = bytearray(b'\x5a' * (1024 * int(sys.argv[2])))
image[0:4] = b'gUwF'
image[4:8] = struct.pack('<I', len(image))
image[0x0C:0x0E] = struct.pack('<H', 622)
image[0x40:0x47] = b'v0.65.0'
open(sys.argv[1], 'wb').write(image)
EOF
}

up() {
  local work=$1 talvorctl=$2 hubsim=$3 collection=$4 sites=${5:-3}
  local id=${work##*[-.]}
  # 10.N.SITE.0/24 links, N from the folder's random suffix.
  local net=$((16#$(printf %s "$id" | md5sum | cut -c1-4) % 200 + 20))
  local ns_ctl=tva-$id-ctl
  : >"$work/pids"
  echo "NS_CTL=$ns_ctl" >"$work/env"
  echo "SITES=$sites" >>"$work/env"
  echo "TALVORCTL=$talvorctl" >>"$work/env"
  ip netns add "$ns_ctl"
  ip -n "$ns_ctl" link set lo up

  mkdir -p "$work/ssh" "$work/cp" "$work/ctl-home" "$work/collections/ansible_collections/quillon"
  ln -s "$collection" "$work/collections/ansible_collections/quillon/talvor"
  ssh-keygen -q -t ed25519 -N '' -C talvor-test-host -f "$work/ssh/host_key"
  ssh-keygen -q -t ed25519 -N '' -C talvor-test-client -f "$work/ssh/id"
  cp "$work/ssh/id.pub" "$work/ssh/authorized_keys"
  : >"$work/ssh/known_hosts"
  write_image "$work/talvor-0.65.0.bin"
  printf '%s\n' '{"version": 7, "network": {"dhcp": 1, "dns": "192.168.77.1"}, "logs": {"level": 2}}' \
    >"$work/golden.cfg"
  # sshd refuses to start without its privilege separation folder.
  mkdir -p /run/sshd

  local hosts="" i
  for ((i = 1; i <= sites; i++)); do
    local ns=tva-$id-s$i dir=$work/s$i host=10.$net.$i.2
    mkdir -p "$dir/home/.config" "$dir/work" "$dir/backups" "$dir/sim"
    echo "NS_$i=$ns" >>"$work/env"
    echo "HOST_$i=$host" >>"$work/env"
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    ip link add "s$i" netns "$ns_ctl" type veth peer name ctl netns "$ns"
    ip -n "$ns_ctl" addr add "10.$net.$i.1/24" dev "s$i"
    ip -n "$ns" addr add "$host/24" dev ctl
    local k
    : >"$dir/units.txt"
    for ((k = 1; k <= SITE_UNITS; k++)); do
      ip -n "$ns" addr add "192.168.77.$((10 + k))/24" dev ctl
      echo "192.168.77.$((10 + k))" >>"$dir/units.txt"
    done
    ip -n "$ns_ctl" link set "s$i" up
    ip -n "$ns" link set ctl up
    echo "$host $(cut -d' ' -f1-2 "$work/ssh/host_key.pub")" >>"$work/ssh/known_hosts"

    fleet_json "$i" >"$dir/fleet.json"
    ip netns exec "$ns" "$hubsim" "$dir/fleet.json" "$dir/sim" >"$dir/sim.out" 2>&1 &
    echo "$! hubsim $i" >>"$work/pids"

    # Each site host's sessions get a home of their own: talvorctl's
    # settings and Ansible's remote files stay with the site.
    cat >"$dir/sshd_config" <<EOF
ListenAddress $host
HostKey $work/ssh/host_key
AuthorizedKeysFile $work/ssh/authorized_keys
PidFile $dir/sshd.pid
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
SetEnv HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config
EOF
    ip netns exec "$ns" /usr/sbin/sshd -D -f "$dir/sshd_config" -E "$dir/sshd.log" &
    echo "$! sshd $i" >>"$work/pids"
    hosts+="        site$i:
          ansible_host: $host
          talvor_lists: [$dir/units.txt]
          talvor_work_dir: $dir/work
          talvor_backup_dir: $dir/backups
"
  done
  for ((i = 1; i <= sites; i++)); do
    await grep -qx ready "$work/s$i/sim.out"
    await ip netns exec "$ns_ctl" bash -c "exec 3<>/dev/tcp/10.$net.$i.2/22"
  done

  cat >"$work/ansible.cfg" <<EOF
[defaults]
inventory = $work/hosts.yml
collections_path = $work/collections
private_key_file = $work/ssh/id
remote_user = root
interpreter_python = /usr/bin/python3
forks = 10
timeout = 10
retry_files_enabled = False
local_tmp = $work/ctl-home/tmp

[ssh_connection]
ssh_args = -o ControlMaster=auto -o ControlPersist=60s -o UserKnownHostsFile=$work/ssh/known_hosts -o IdentitiesOnly=yes -o BatchMode=yes
control_path_dir = $work/cp
pipelining = True
EOF
  cat >"$work/hosts.yml" <<EOF
---
talvor_sites:
  hosts:
$hosts  vars:
    talvorctl_path: $talvorctl
    talvor_password: $PASSWORD
    talvor_tls_checks: none
    talvor_accept_insecure: true
    talvor_timeout: 10
    talvor_verify_timeout: 60
talvor_canary:
  hosts: {${CANARY:+$CANARY: }}
EOF
}

playbook() {
  local work=$1
  shift
  . "$work/env"
  ip netns exec "$NS_CTL" env HOME="$work/ctl-home" ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_NOCOLOR=1 \
    ansible-playbook quillon.talvor.firmware_rollout -e "talvor_image=$work/talvor-0.65.0.bin" \
    -e talvor_target_version=0.65.0 -e "talvor_golden_config=$work/golden.cfg" "$@"
}

run_talvorctl() {
  local work=$1 site=$2 ns
  shift 2
  ns=$(sed -n "s/^NS_$site=//p" "$work/env")
  echo "$PASSWORD" | ip netns exec "$ns" env HOME="$work/s$site/home" XDG_CONFIG_HOME="$work/s$site/home/.config" \
    "$(sed -n 's/^TALVORCTL=//p' "$work/env")" --password-stdin "$@"
}

# The sshd processes of a site: the listener and every session it forked.
stop_ssh() {
  local work=$1 site=$2 pid ns
  ns=$(sed -n "s/^NS_$site=//p" "$work/env")
  for pid in $(ip netns pids "$ns"); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = sshd ] && kill "$pid" 2>/dev/null
  done
  await bash -c "! ip netns pids $ns | xargs -r -n1 -I{} cat /proc/{}/comm 2>/dev/null | grep -qx sshd"
}

down() {
  local work=$1 ns pid _
  [ -f "$work/env" ] || return 0
  while read -r pid _; do kill "$pid" 2>/dev/null || true; done <"$work/pids"
  # What else runs there was started by the runs (ssh masters, talvorctl).
  for ns in $(sed -n 's/^NS_[A-Z0-9]*=//p' "$work/env"); do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  done
  for ns in $(sed -n 's/^NS_[A-Z0-9]*=//p' "$work/env"); do
    await bash -c "[ -z \"\$(ip netns pids $ns 2>/dev/null)\" ]" || true
    ip netns del "$ns" 2>/dev/null || true
  done
}

case ${1:-} in
  up) shift; up "$@" ;;
  playbook) shift; playbook "$@" ;;
  talvorctl) shift; run_talvorctl "$@" ;;
  stop-ssh) shift; stop_ssh "$@" ;;
  down) shift; down "$@" ;;
  *) echo "usage: sites.sh up|playbook|talvorctl|stop-ssh|down WORK ..." >&2; exit 2 ;;
esac

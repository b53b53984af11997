#!/usr/bin/env bash
# Set-ups of the DICOM peers the tests and the demo environment talk to:
# Orthanc (a PACS with a REST interface and the worklist plugin) and DCMTK's
# wlmscpfs (a worklist server reading a folder of .wl files).
#
# Run as a command:   bash scripts/peers.sh SUBCOMMAND ARGS...
# or source it and call the functions of the same name (peers_SUBCOMMAND).
#
#   free-port                      a loopback port nobody listens on now
#   orthanc-config DIR DICOM_PORT HTTP_PORT AET [WORKLIST_DIR]
#                                  writes DIR/orthanc.json (storage below DIR/db,
#                                  every calling AE allowed, answers in UTF-8,
#                                  the worklist plugin when WORKLIST_DIR is given)
#                                  and prints its path
#   wlmscpfs-db DIR AET            makes DIR/AET with its lockfile and prints that
#                                  folder; wlmscpfs -dfp DIR answers the called
#                                  AE title AET from the .wl files in it
#   worklist-entry FOLDER N NAME PATIENT_ID DATE MODALITY TIME [CHARSET]
#                                  writes FOLDER/entryN.wl, a complete scheduled
#                                  procedure step; accession number ACC<N>,
#                                  study UID ...1143.1.<N>. Without CHARSET the
#                                  NAME is Latin-1 bytes under "ISO_IR 100"; with
#                                  it (ISO_IR 100, 101, 126, 144, 192, GB18030,
#                                  \ISO 2022 IR 87) NAME is UTF-8 and is written in
#                                  that character set
#   demo-worklist FOLDER MODALITY DATE
#                                  writes four made-up patients' entries for
#                                  DATE (YYYYMMDD) with MODALITY into FOLDER (one
#                                  name in Greek letters, in UTF-8) and prints
#                                  one line per patient
#   station-config FILE LOCAL_AET INSTITUTION PACS_AET PACS_HOST PACS_PORT
#                  WL_AET WL_HOST WL_PORT MODALITY_INDEX
#                                  writes a station's "quillbrook.cfg": the ten
#                                  lines, CR LF, reserved line "0"
#   station-modality FILE          prints the modality code line 10 of a
#                                  "quillbrook.cfg" selects (nothing when none)
#   wait-listening PID PORT [SECONDS]
#                                  waits (default 10 s) until process PID listens
#                                  on loopback PORT; fails when it ends first
#   run-orthanc CONFIG             runs Orthanc in the foreground
#   run-wlmscpfs DIR PORT          runs wlmscpfs -csk -dfp DIR PORT in the
#                                  foreground (-csk: each entry is answered with
#                                  its own Specific Character Set)
#
# The run- commands make the server die with the shell that started them
# (setpriv --pdeathsig KILL), so a killed script leaves no server behind.
set -euo pipefail

PEERS_ORTHANC_PLUGINS=${PEERS_ORTHANC_PLUGINS:-/usr/share/orthanc/plugins}

peers_free_port() {
  local port
  for _ in $(seq 1 200); do
    port=$((20000 + RANDOM % 40000))
    if [ -z "$(ss -Htln "sport = :$port")" ]; then
      echo "$port"
      return 0
    fi
  done
  echo "peers.sh: no free port found" >&2
  return 1
}

# A JSON string for a path (quotes and backslashes escaped).
peers_json_string() {
  local text=${1//\\/\\\\}
  printf '"%s"' "${text//\"/\\\"}"
}

peers_orthanc_config() {
  if [ $# -lt 4 ]; then
    echo "usage: peers.sh orthanc-config DIR DICOM_PORT HTTP_PORT AET [WORKLIST_DIR]" >&2
    return 2
  fi
  local dir=$1 dicom_port=$2 http_port=$3 aet=$4 worklists=${5:-}
  mkdir -p "$dir/db"
  local plugins=""
  if [ -n "$worklists" ]; then
    local plugin=$PEERS_ORTHANC_PLUGINS/libModalityWorklists.so
    if [ ! -e "$plugin" ]; then
      echo "peers.sh: Orthanc's worklist plugin $plugin is missing" >&2
      return 1
    fi
    plugins="  \"Plugins\": [$(peers_json_string "$plugin")],
  \"Worklists\": {\"Enable\": true, \"Database\": $(peers_json_string "$worklists")},
"
  fi
  cat >"$dir/orthanc.json" <<JSON
{
  "Name": "FRAMEWELL-PEER",
  "StorageDirectory": $(peers_json_string "$dir/db"),
  "IndexDirectory": $(peers_json_string "$dir/db"),
  "HttpServerEnabled": true,
  "HttpPort": $http_port,
  "DicomPort": $dicom_port,
  "DicomAet": $(peers_json_string "$aet"),
  "RemoteAccessAllowed": false,
  "AuthenticationEnabled": false,
  "DicomAlwaysAllowEcho": true,
  "DicomAlwaysAllowStore": true,
  "DicomAlwaysAllowFind": true,
  "DicomAlwaysAllowFindWorklist": true,
  "DicomCheckCalledAet": false,
${plugins}  "DefaultEncoding": "Utf8"
}
JSON
  echo "$dir/orthanc.json"
}

peers_wlmscpfs_db() {
  if [ $# -ne 2 ]; then
    echo "usage: peers.sh wlmscpfs-db DIR AET" >&2
    return 2
  fi
  local folder=$1/$2
  mkdir -p "$folder"
  # wlmscpfs refuses a folder without it.
  : >"$folder/lockfile"
  echo "$folder"
}

peers_worklist_entry() {
  if [ $# -ne 7 ] && [ $# -ne 8 ]; then
    echo "usage: peers.sh worklist-entry FOLDER N NAME PATIENT_ID DATE MODALITY TIME [CHARSET]" >&2
    return 2
  fi
  local folder=$1 n=$2 name=$3 id=$4 date=$5 modality=$6 time=$7 charset="ISO_IR 100" encoding
  if [ $# -eq 8 ]; then
    charset=$8
    case "$charset" in
    "ISO_IR 100") encoding=ISO-8859-1 ;;
    "ISO_IR 101") encoding=ISO-8859-2 ;;
    "ISO_IR 126") encoding=ISO-8859-7 ;;
    "ISO_IR 144") encoding=ISO-8859-5 ;;
    "ISO_IR 192") encoding=UTF-8 ;;
    "GB18030") encoding=GB18030 ;;
    '\ISO 2022 IR 87') encoding=ISO-2022-JP ;;
    *)
      echo "peers.sh: worklist-entry: no encoding known for \"$charset\"" >&2
      return 2
      ;;
    esac
    name=$(printf '%s' "$name" | iconv -f UTF-8 -t "$encoding")
  fi
  mkdir -p "$folder"
  local dump=$folder/entry$n.dump
  # wlmscpfs skips entries without the attributes it requires as
  # "incomplete": every one of them is here.
  cat >"$dump" <<DUMP
(0008,0005) CS [$charset]
(0008,0050) SH [ACC$n]
(0010,0010) PN [$name]
(0010,0020) LO [$id]
(0010,0030) DA [19700101]
(0010,0040) CS [M]
(0010,2110) LO [LATEX]
(0020,000d) UI [1.2.826.0.1.3680043.2.1143.1.$n]
(0032,1032) PN [REQ^DOC]
(0032,1060) LO [Ultrasound exam]
(0040,0100) SQ
(fffe,e000) -
(0008,0060) CS [$modality]
(0032,1070) LO [NONE]
(0040,0001) AE [SCANNER1]
(0040,0002) DA [$date]
(0040,0003) TM [$time]
(0040,0006) PN [PERF^DOC]
(0040,0007) LO [Step $n]
(0040,0009) SH [SPS$n]
(0040,0010) SH [ROOM1]
(0040,0011) SH [L2]
(0040,0012) LO [NONE]
(fffe,e00d) -
(fffe,e0dd) -
(0040,1001) SH [RP$n]
(0040,1003) SH [LOW]
DUMP
  dump2dcm +te "$dump" "$folder/entry$n.wl"
  rm -f "$dump"
}

# The station's modality list, in the order of line 10 of "quillbrook.cfg".
PEERS_MODALITIES=(US CR CT MR DX ES OT)

peers_demo_worklist() {
  if [ $# -ne 3 ]; then
    echo "usage: peers.sh demo-worklist FOLDER MODALITY DATE" >&2
    return 2
  fi
  local folder=$1 modality=$2 date=$3 n=0 entry name id time
  for entry in "DEMO^ALICE 900101 0900" "SAMPLE^BRUNO 900102 1030" "EXAMPLE^CLARA 900103 1400"; do
    read -r name id time <<<"$entry"
    n=$((n + 1))
    peers_worklist_entry "$folder" "$n" "$name" "$id" "$date" "$modality" "$time"
    echo "$name (patient ID $id, accession ACC$n, $modality at ${time:0:2}:${time:2:2})"
  done
  # A name beyond Latin-1, as Greek, Cyrillic or Japanese worklists send them.
  name='Παπαδόπουλος^Γιώργος'
  peers_worklist_entry "$folder" 4 "$name" 900104 "$date" "$modality" 1530 "ISO_IR 192"
  echo "$name (patient ID 900104, accession ACC4, $modality at 15:30)"
}

peers_station_config() {
  if [ $# -ne 10 ]; then
    echo "usage: peers.sh station-config FILE LOCAL_AET INSTITUTION PACS_AET PACS_HOST PACS_PORT" \
      "WL_AET WL_HOST WL_PORT MODALITY_INDEX" >&2
    return 2
  fi
  local file=$1
  shift
  mkdir -p "$(dirname "$file")"
  printf '%s\r\n' "$1" "$2" "$3" "$4" "$5" "$6" "$7" "$8" 0 "$9" >"$file"
}

peers_station_modality() {
  if [ $# -ne 1 ]; then
    echo "usage: peers.sh station-modality FILE" >&2
    return 2
  fi
  local index
  index=$(sed -n '10{s/\r$//;p}' "$1")
  if [[ "$index" =~ ^[0-6]$ ]]; then
    echo "${PEERS_MODALITIES[$index]}"
  fi
}

peers_wait_listening() {
  if [ $# -lt 2 ]; then
    echo "usage: peers.sh wait-listening PID PORT [SECONDS]" >&2
    return 2
  fi
  local pid=$1 port=$2 tries=$((${3:-10} * 20))
  while [ "$tries" -gt 0 ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "peers.sh: process $pid ended before it listened on port $port" >&2
      return 1
    fi
    if ss -Htlnp "sport = :$port" 2>/dev/null | grep "pid=$pid," >/dev/null; then
      return 0
    fi
    sleep 0.05
    tries=$((tries - 1))
  done
  echo "peers.sh: process $pid does not listen on port $port" >&2
  return 1
}

peers_run_orthanc() {
  exec setpriv --pdeathsig KILL Orthanc "$1"
}

peers_run_wlmscpfs() {
  exec setpriv --pdeathsig KILL env TCP_NODELAY=1 wlmscpfs -csk -dfp "$1" "$2"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  if [ $# -lt 1 ]; then
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
  fi
  command=peers_${1//-/_}
  shift
  if ! declare -F "$command" >/dev/null; then
    echo "peers.sh: unknown subcommand" >&2
    exit 2
  fi
  "$command" "$@"
fi

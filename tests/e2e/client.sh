# shellcheck shell=bash
# Drives the client under Xvfb with xdotool, for scripts/e2e, tests/e2e/accessibility-walk and the
# lab's end-to-end test. The caller defines say and fail, sets out (screenshots and logs),
# client_language, background (an array its cleanup stops, by PID) and XDG_CONFIG_HOME (or calls
# isolate_home), and then sources this file.

# A copy of the build's bundle in $out whose system extension is the reference provider, so that
# the run checks the client, not the tunnel (tests/lab/client-e2e runs the real one). Sets client.
bundle_with_reference_provider() {
    local build="$1" reference="$1/fixtures/ReferenceProvider.app/Contents/Library/SystemExtensions"
    [ -d "$reference" ] || { echo "the reference provider is not built" >&2; exit 2; }
    cp -a "$build/OrvaneVPN.app" "$out/OrvaneVPN.app"
    rm -rf "$out/OrvaneVPN.app/Contents/Library/SystemExtensions"
    cp -a "$reference" "$out/OrvaneVPN.app/Contents/Library/"
    client="$out/OrvaneVPN.app/Contents/bin/OrvaneVPN"
}

# A throwaway home in $out/home for everything the client and its helpers keep.
isolate_home() {
    home="$out/home"
    export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data"
    export XDG_RUNTIME_DIR="$home/runtime"
    mkdir -p "$XDG_CONFIG_HOME/com.qaromac.wv" "$XDG_DATA_HOME"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    unset LANGUAGE LC_ALL LC_MESSAGES DBUS_SESSION_BUS_ADDRESS
}

# The development backend on six loopback ports, and the client pointed at them. The arguments are
# the command that runs the backend (with any options of its own). Sets origins.
start_backend() {
    "$@" --port 0 --port 0 --port 0 --port 0 --port 0 --port 0 --data "$out/backend" \
        >"$out/backend.log" 2>&1 &
    background+=($!)
    wait_for "the development backend" 20 backend_listening
    mapfile -t origins < <(grep -o 'http://127.0.0.1:[0-9]*' "$out/backend.log")
    export ORVANE_API_BASE_URLS="${origins[0]} ${origins[1]} ${origins[2]}"
    export ORVANE_TUNNEL_HOST_URL="${origins[3]}" ORVANE_PAYMENT_ORIGIN="${origins[4]}"
    export ORVANE_OFFICIAL_SITE_ORIGIN="${origins[5]}"
    export ORVANE_SERVICE_CHAT_URL="${origins[5]}/service/chat.html"
}
backend_listening() { [ "$(grep -c listening "$out/backend.log")" -eq 6 ]; }

# Starts Xvfb and a tray (trayer) for the client, and exports DISPLAY.
start_display() {
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
    background+=($!)
    wait_for "Xvfb" 20 test -s "$out/display"
    export DISPLAY=":$(head -1 "$out/display")"
    trayer --edge bottom --widthtype pixel --width 200 --height 24 >"$out/trayer.log" 2>&1 &
    background+=($!)
    # A client started before the tray is there may never show its icon.
    wait_for "the tray" 10 tray_ready
}
tray_ready() { xwininfo -root -tree | grep -qF '"panel": ("panel" "trayer")'; }

# Polls a condition every tenth of a second for at most the given seconds.
wait_for() {
    local what="$1" seconds="$2"
    shift 2
    for ((i = 0; i < seconds * 10; i++)); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    fail "$what"
}
shot() { import -window root "$out/$1.png"; say "screenshot $out/$1.png"; }
main_window() { xdotool search --onlyvisible --name '^QaroMac$' | awk 'NR == 1'; }
window_visible() { [ -n "$(main_window)" ]; }
window_hidden() { ! window_visible; }
# A toast's title is its message.
toast_says() {
    local window titles=""
    for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        titles+="$(xprop -id "$window" _NET_WM_NAME 2>/dev/null)"$'\n'
    done
    grep -qF -- "\"$1\"" <<<"$titles"
}
stored() { grep -q -- "\"$1\"" "$XDG_CONFIG_HOME/com.qaromac.wv/preferences.json"; }
not_stored() { ! stored "$1"; }

launch() {
    LANG="$client_language" dbus-run-session -- "$client" >>"$out/client.log" 2>&1 &
    disown # ended by the cleanup, without a word from the shell
    wait_for "the main window" 30 window_visible
}

# The tray icon lies inside trayer's panel; menus are driven with the keyboard.
tray_icon_position() {
    xwininfo -root -tree | awk '/"OrvaneVPN": \("OrvaneVPN"/ && /22x22/ && !found {print $NF; found = 1}'
}
tray_icon_shown() { [ -n "$(tray_icon_position)" ]; }
open_tray_menu() {
    local position x y
    wait_for "the tray icon" 10 tray_icon_shown
    position=$(tray_icon_position)
    x=$(echo "$position" | cut -d+ -f2)
    y=$(echo "$position" | cut -d+ -f3)
    xdotool mousemove $((x + 11)) $((y + 11)) click 3
    sleep 0.5
}
click_window() { xdotool mousemove --window "$(main_window)" "$1" "$2" click 1; }
# Replaces the text of the field under a point of the window.
type_into() {
    click_window "$1" "$2"
    xdotool key ctrl+a BackSpace
    xdotool type --delay 15 -- "$3"
}
# Where things are in the 920 x 580 window.
sign_in_button=(761 16)
home_tab=(92 84) route_tab=(460 84) account_tab=(828 84) # on the pages' toolbar
route_choice=(463 494) member_centre=(831 494)                  # on the home view
start_control=(190 245) connect_ring=(133 317) close_button=(896 16)
panel_account=(460 185) panel_password=(460 241) panel_code=(392 241) panel_code_button=(558 241)
panel_new_password=(460 297) panel_start=(460 364) panel_register=(323 410) panel_forgot=(589 410)
panel_close=(623 107) panel_auto_login=(580 293)
sign_out_button=(836 472)
# Route page items by index: five to a row.
node_at() { echo $((20 + ($1 % 5) * 184 + 60)) $((292 + ($1 / 5) * 39)); }


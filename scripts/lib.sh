# Shared by the scripts: a virtual display and the Wine server of a prefix.

# Starts Xvfb on a free display unless one is given; sets DISPLAY and QV_XVFB_PID.
qv_start_display() {
  QV_XVFB_PID=
  if [ -n "${DISPLAY:-}" ] && [ -z "${QV_FORCE_XVFB:-}" ]; then return 0; fi
  local n
  for n in $(seq 90 140); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    QV_XVFB_PID=$!
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
    if kill -0 $QV_XVFB_PID 2>/dev/null; then export DISPLAY=:$n; return 0; fi
  done
  echo "could not start Xvfb" >&2
  return 1
}

qv_stop_display() {
  [ -n "${QV_XVFB_PID:-}" ] && kill $QV_XVFB_PID 2>/dev/null
  QV_XVFB_PID=
}

# Keeps a Wine server alive for a prefix so each program starts fast.
qv_start_wineserver() { WINEPREFIX="$1" wineserver -p >/dev/null 2>&1 || true; }
qv_stop_wineserver() { WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true; }

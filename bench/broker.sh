# Sourced by the MQTT benchmarks: starts a mosquitto of their own on a free port of 127.0.0.1
# (config in $run, no persistence, anonymous), appends its pid to the array `pids` and sets `port`.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\npersistence false\nallow_anonymous true\nlog_dest none\n' "$port" >"$run/mosquitto.conf"
[ "$(id -u)" -eq 0 ] && echo "user root" >>"$run/mosquitto.conf"
/usr/sbin/mosquitto -c "$run/mosquitto.conf" 2>/dev/null &
pids+=($!)
sleep 1

#!/bin/sh
# check_no_sim.sh SHIPPED SIMULATION
# A shipped program (the connector, the service) must hold nothing of the simulator: neither its
# control pipe nor its start-up script variable, nor the simulated drive's own texts. Its
# simulation build must hold them, or this check would prove nothing.
set -u
shipped=$1
simulation=$2
fail=0
# Wide strings of the simulation seams, and narrow texts of the simulated drive.
for marker in KX7SimulatedBus KX7SIM_SCRIPT; do
    if tr -d '\000' <"$shipped" | grep -aq "$marker"; then
        echo "FAIL: $shipped contains $marker"
        fail=1
    fi
    if ! tr -d '\000' <"$simulation" | grep -aq "$marker"; then
        echo "FAIL: $simulation lacks $marker, so its absence elsewhere proves nothing"
        fail=1
    fi
done
for marker in 'Virtual CD Drive' 'Flash Disk'; do
    if grep -aq "$marker" "$shipped"; then
        echo "FAIL: $shipped contains the simulated drive's text \"$marker\""
        fail=1
    fi
    if ! grep -aq "$marker" "$simulation"; then
        echo "FAIL: $simulation lacks \"$marker\""
        fail=1
    fi
done
[ $fail -eq 0 ] && echo "no simulator code in $shipped"
exit $fail

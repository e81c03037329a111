# The relay bench's chart: fan-out latency distribution and throughput, ours against the anchors.
# Usage: gnuplot -e "dir='DATA_DIR'; out='FILE.png'; n=32" bench/relay_chart.gp
set terminal pngcairo size 1100,420 font "DejaVu Sans,10"
set output out
set multiplot layout 1,2 title sprintf("Relay bench, %d clients on 127.0.0.1", n)

set title "Fan-out latency (every line of every run)"
set xlabel "microseconds until every other client has the line"
set ylabel "fraction of lines"
set logscale x
set key bottom right
set grid
relays = "ours window ngircd ncat floor"
# A relay that was not measured has no file; gnuplot skips it.
plot for [r in relays] sprintf("%s/latency_%d_%s.dat", dir, n, r) using 1:2 with lines lw 2 title r

unset logscale x
set title "Throughput (median deliveries per second)"
set xlabel ""
set ylabel "million deliveries/s"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set key top right
set yrange [0:*]
plot sprintf("%s/throughput_%d.dat", dir, n) using ($2/1e6):xtic(1) title "200 lines each", \
     '' using ($3/1e6) title "1000 lines each"
unset multiplot

# The relay bench's chart: CPU per delivery and throughput for each send pattern and relay, the
# median of the runs with their range as an error bar.
# Usage: gnuplot -e "data='FILE'; out='FILE.png'; n=32; runs=5; relays='ours ... ngircd'" relay_chart.gp
# FILE has one row per pattern: its name, then per relay median, min and max of CPU per delivery,
# then per relay the same of throughput.
set terminal pngcairo size 1200,440 font "DejaVu Sans,10"
set output out
set multiplot layout 1,2 title sprintf("Relay bench, %d clients on 127.0.0.1, medians of %d runs (bars: min-max)", n, runs)
set style data histograms
set style histogram errorbars gap 1 lw 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set grid ytics
set yrange [0:*]
set key below horizontal
count = words(relays)

set title "Relay CPU per delivery (lower is better)"
set ylabel "ns"
plot for [i=1:count] data using 3*i-1:3*i:3*i+1:xtic(1) title word(relays, i)

set title "Throughput (on 2 cores the load generator takes one)"
set ylabel "million deliveries/s"
plot for [i=1:count] data using (column(3*(count+i)-1)/1e6):(column(3*(count+i))/1e6):(column(3*(count+i)+1)/1e6):xtic(1) title word(relays, i)
unset multiplot

# Time over the copy floor per case on the first interpreter: the module at three
# chunk sizes, the per-byte build and Python's binascii at 64 KiB.
# gnuplot -e "data='...'; output='...'; tool='Lua 5.1'" chart.gp
set terminal pngcairo size 1400,620 font ",10"
set output output
set title sprintf("mime.core on %s: time over the copy floor (log scale; 1 = the floor, dashed: 2x)", tool)
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [0.5:200]
set ylabel "time / floor's time"
set grid ytics
set key top left horizontal
set xtics rotate by -40 scale 0
set bmargin 7
set datafile missing "?"
set arrow from graph 0, first 2 to graph 1, first 2 nohead dt 2 lw 2 lc rgb "#cc0000"
plot data using 2:xtic(1) title "module, 76-byte calls" lc rgb "#66c2a5", \
     '' using 3 title "module, 64 KiB" lc rgb "#1b9e77", \
     '' using 4 title "module, one 8 MiB call" lc rgb "#0b4f3c", \
     '' using 5 title "per-byte build, 64 KiB" lc rgb "#d95f02", \
     '' using 6 title "Python binascii, 64 KiB" lc rgb "#7570b3"

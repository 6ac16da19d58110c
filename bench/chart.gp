# MB/s per function, 64 KiB chunks, Lua 5.1: the module, the per-byte reference,
# Python's C codecs and the floor. gnuplot -e "data='...'; output='...'" chart.gp
set terminal pngcairo size 1000,560 font ",11"
set output output
set title "mime.core, Lua 5.1, 64 KiB chunks: MB/s of input (log scale)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [100:400000]
set ylabel "MB/s"
set grid ytics
set key top left horizontal
set datafile missing "?"
plot data using 2:xtic(1) title "module" lc rgb "#1b9e77", \
     '' using 3 title "per-byte build" lc rgb "#d95f02", \
     '' using 4 title "Python binascii" lc rgb "#7570b3", \
     '' using 5 title "floor (new string of the output's size)" lc rgb "#aaaaaa"

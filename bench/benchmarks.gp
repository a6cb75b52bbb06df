# The plot of docs/benchmarks.md: four panels of ratios to each
# measurement's peer (the dashed line at 1), from the data files that
# bench/report.py writes. Call: gnuplot -e "data='DIR'; output='FILE.png'" benchmarks.gp
set terminal pngcairo size 1280,900 font "Sans,11"
set output output
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics
set key top left
set linetype 1 lc rgb "#1f6fb4"
set linetype 2 lc rgb "#f28e2b"
set linetype 3 lc rgb "#59a14f"
set linetype 4 lc rgb "#b07aa1"
set linetype 5 lc rgb "#9c755f"
set multiplot layout 2,2 title "Dravik Self-Extractor against its peers (ratio to the peer; lower is better)" font "Sans,14"

set title "Build time ÷ 7z -tzip -mx=9"
set yrange [0:1.25<*]
plot for [i=2:4] data."/build_time.dat" using i:xtic(1) title columnheader(i), 1 with lines dt 2 lc rgb "black" notitle

set title "Archive size (ZIP part) ÷ 7z -tzip -mx=9"
set yrange [0.9:1.1]
plot for [i=2:4] data."/build_size.dat" using i:xtic(1) title columnheader(i), 1 with lines dt 2 lc rgb "black" notitle
set yrange [0:1.25<*]

set title "Extract time ÷ unzip"
plot for [i=2:6] data."/extract_time.dat" using i:xtic(1) title columnheader(i), 1 with lines dt 2 lc rgb "black" notitle

set title "Decode ÷ zlib (corpus, memory to memory)"
plot for [i=2:4] data."/decode.dat" using i:xtic(1) title columnheader(i), 1 with lines dt 2 lc rgb "black" notitle
unset multiplot

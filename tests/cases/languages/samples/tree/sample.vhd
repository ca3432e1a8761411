-- c
s <= '1' when clk'event else "--no";

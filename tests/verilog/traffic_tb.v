// Drives the checker of examples/traffic_light.txt through one legal main
// road phase, then shows green on both roads: ERROR must stay 0 through the
// legal part and be 1 exactly in the cycle after the fault.
// Runs in Icarus Verilog and in Verilator (see verilog_tools.sh).
module traffic_tb;
    reg clk = 1'b0;
    reg reset = 1'b1;
    reg [2:0] main_lamps = 3'b100;
    reg [2:0] side_lamps = 3'b100;
    wire error;
    integer cycle;
    integer failures = 0;

    GUARD dut (.CLK(clk), .RESET(reset), .MAIN(main_lamps), .SIDE(side_lamps), .ERROR(error));

    // main, side per cycle; 001 001 is the fault (green on both roads).
    reg [5:0] lamps [0:7];
    initial begin
        lamps[0] = 6'b100_100; lamps[1] = 6'b110_100; lamps[2] = 6'b001_100;
        lamps[3] = 6'b001_100; lamps[4] = 6'b010_100; lamps[5] = 6'b100_100;
        lamps[6] = 6'b001_001; lamps[7] = 6'b100_100;
        #3 reset = 1'b0;
        for (cycle = 0; cycle < 8; cycle = cycle + 1) begin
            {main_lamps, side_lamps} = lamps[cycle];
            #5 clk = 1'b1;
            #2 if (error !== (cycle == 6)) begin
                $display("FAIL: cycle %0d: ERROR=%b", cycle, error);
                failures = failures + 1;
            end
            #3 clk = 1'b0;
        end
        if (failures == 0)
            $display("PASS");
        $finish;
    end
endmodule
